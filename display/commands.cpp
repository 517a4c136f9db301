#include <algorithm>
#include <array>

#include "display/controller.h"
#include "display/glyph_tables.h"
#include "link/panel_link.h"

namespace quillon {

namespace {

// Pages each text size occupies; 0 marks the codes that are not sizes.
constexpr std::array<std::uint8_t, 8> kPagesHigh{1, 2, 0, 3, 4, 6, 0, 0};

constexpr std::uint8_t kHighestContrast = 63;

// The slider bar sits at the right edge: a three-column track on pages 1 to
// 6 and a two-digit number above it on page 0.
constexpr std::uint8_t kSliderColumn = 125;
constexpr std::uint8_t kSliderRunLength = 3;
constexpr std::uint8_t kUnitsColumn = 122;
constexpr std::uint8_t kTensColumn = 116;
constexpr std::uint8_t kDigitRunLength = kGlyphWidth + 1;
constexpr std::uint8_t kHighestSliderNumber = 99;

struct TrackRun {
    std::uint8_t page;
    std::uint8_t middle;
};

// The middle column draws the track line from row 9 to row 54; the outer
// columns blank whatever a previous slider left there.
constexpr std::array<TrackRun, 6> kTrackRuns{{
    {2, 0xFF},
    {3, 0xFF},
    {4, 0xFF},
    {5, 0xFF},
    {1, 0xFE},
    {6, 0x7F},
}};

} // namespace

void CPanelLink::WriteString()
{
    const std::uint8_t columnAndFlag = FrameData(state_, 0);
    const std::uint8_t attribute = state_.textAttribute;

    if ((columnAndFlag & 0x80) != 0) {
        const std::uint8_t page = attribute & 0x07;
        const std::uint8_t pagesHigh = kPagesHigh[(attribute >> 3) & 0x07];
        // A band that would run below page 7 wraps its last page above its
        // first, and a size that is no size gets bit 6: ClearPages refuses
        // both, and the text is still drawn.
        state_.pageRange = pagesHigh == 0 ? static_cast<std::uint8_t>(0x40 | page)
                                          : static_cast<std::uint8_t>(page | (((page + pagesHigh - 1) & 0x07) << 3));
        ClearPages();
    }

    state_.work.runColumn = columnAndFlag & 0x7F;
    state_.work.runPage = attribute & 0x07;
    PrepareText(TextSource::CurrentFrame);
}

void CPanelLink::WriteArray()
{
    // The column bytes come straight from the frame; they are taken out of
    // the shared receive buffer first so the view sees a stable copy.
    std::array<std::uint8_t, kDisplayColumns> bytes{};
    const std::size_t count = std::min<std::size_t>(state_.work.runLength, bytes.size());
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = DataAt(state_, i);
    }
    WriteColumnRun(bytes.data());
}

void CPanelLink::SetupDisplay()
{
    if ((state_.setupByte & 0x80) != 0) {
        ShowStartupScreen();
    }
}

void CPanelLink::BlankArea()
{
    ClearPages();
}

void CPanelLink::SetContrast()
{
    // The emulated display has no contrast; the value is only kept.
    state_.work.contrast = std::min(state_.work.contrast, kHighestContrast);
}

void CPanelLink::DrawSliderBar()
{
    DisplayWork& work = state_.work;
    const std::uint8_t number = DataAt(state_, 0);
    const std::uint8_t sliderPage = DataAt(state_, 1);

    work.runColumn = kSliderColumn;
    work.runLength = kSliderRunLength;
    for (const TrackRun& track : kTrackRuns) {
        work.runBuffer[0] = 0x00;
        work.runBuffer[1] = track.middle;
        work.runBuffer[2] = 0x00;
        work.runPage = track.page;
        WriteColumnRun(work.runBuffer.data());
    }

    for (std::size_t i = 0; i < kSliderRunLength; ++i) {
        work.runBuffer[i] = DataAt(state_, 2 + i);
    }
    work.runPage = sliderPage;
    WriteColumnRun(work.runBuffer.data());
    if (work.frameLength == 8) {
        // The second page follows the page the first run really went to.
        for (std::size_t i = 0; i < kSliderRunLength; ++i) {
            work.runBuffer[i] = DataAt(state_, 5 + i);
        }
        work.runPage = static_cast<std::uint8_t>(work.runPage + 1);
        work.runColumn = kSliderColumn;
        work.runLength = kSliderRunLength;
        WriteColumnRun(work.runBuffer.data());
    }

    if (number > kHighestSliderNumber) {
        state_.status |= kStatusFrameError;
        return;
    }

    const auto writeDigit = [this, &work](std::uint8_t column, bool blank, std::uint8_t digit) {
        if (blank) {
            std::fill_n(work.runBuffer.begin(), kDigitRunLength, std::uint8_t{0});
        } else {
            const GlyphColumns glyph = DigitGlyph(digit);
            std::copy(glyph.begin(), glyph.end(), work.runBuffer.begin());
            work.runBuffer[kGlyphWidth] = 0x00;
        }
        work.runColumn = column;
        work.runPage = 0;
        work.runLength = kDigitRunLength;
        WriteColumnRun(work.runBuffer.data());
    };
    writeDigit(kUnitsColumn, false, number % 10);
    writeDigit(kTensColumn, number <= 9, number / 10);
}

void CPanelLink::DrawAndRepeat()
{
    DisplayWork& work = state_.work;
    const unsigned patternLength = work.frameLength > 3 ? work.frameLength - 3u : 0u;
    const unsigned copies = work.repeatCount + 1u;
    // Worked out in full width: a byte would wrap and let an oversized run
    // through.
    const unsigned total = patternLength * copies;
    if (total > kDisplayColumns) {
        state_.status |= kStatusFrameError;
        return;
    }

    for (unsigned i = 0; i < total; ++i) {
        work.runBuffer[i] = DataAt(state_, i % patternLength);
    }
    work.runLength = static_cast<std::uint8_t>(total);
    WriteColumnRun(work.runBuffer.data());
}

void CPanelLink::DrawIcon()
{
    DisplayWork& work = state_.work;
    const std::span<const std::uint8_t> icon = IconColumns(DataAt(state_, 0));
    if (icon.empty()) {
        state_.status |= kStatusFrameError;
        return;
    }
    std::copy(icon.begin(), icon.end(), work.runBuffer.begin());
    work.runLength = static_cast<std::uint8_t>(icon.size());
    WriteColumnRun(work.runBuffer.data());
}

void CPanelLink::SetContrastAndReplyMode()
{
    state_.replyMode = static_cast<std::uint16_t>(DataAt(state_, 0) | (DataAt(state_, 1) << 8));
    SetContrast();
}

} // namespace quillon
