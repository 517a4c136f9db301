#include <algorithm>
#include <array>

#include "display/display_controller.h"
#include "display/frame_bytes.h"
#include "display/glyph_tables.h"
#include "display/text_sizes.h"
#include "protocol/protocol.h"

namespace quillon {

namespace {

// The slider bar sits at the right edge: a three-column track on pages 1 to
// 6 and a two-digit number above it on page 0.
constexpr std::uint8_t kSliderColumn = 125;
constexpr std::size_t kSliderRunLength = 3;
constexpr std::uint8_t kUnitsColumn = 122;
constexpr std::uint8_t kTensColumn = 116;
constexpr std::size_t kDigitRunLength = kGlyphWidth + 1;
constexpr std::uint8_t kHighestSliderNumber = 99;
// A slider frame with this many data bytes draws a second slider page.
constexpr std::size_t kTwoPageSliderLength = 8;

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

void DisplayController::WriteString(std::span<const std::uint8_t> data)
{
    const std::uint8_t columnAndFlag = ByteOf(data, 0);
    const std::uint8_t attribute = ByteOf(data, 1);

    if ((columnAndFlag & 0x80) != 0) {
        const std::uint8_t page = attribute & 0x07;
        const std::uint8_t pagesHigh = kTextSizes[TextSizeCode(attribute)].bandPages;
        // A band that would run below page 7 wraps its last page above its
        // first, and a size that is no size gets bit 6: ClearPages refuses
        // both, and the text is still drawn.
        ClearPages(pagesHigh == 0 ? static_cast<std::uint8_t>(0x40 | page)
                                  : static_cast<std::uint8_t>(page | (((page + pagesHigh - 1) & 0x07) << 3)));
    }

    DrawText(BytesFrom(data, 2), attribute, columnAndFlag & 0x7F, attribute & 0x07);
}

void DisplayController::WriteArray(std::span<const std::uint8_t> data)
{
    WriteColumnRun(ByteOf(data, 1), ByteOf(data, 0), BytesFrom(data, 2));
}

void DisplayController::DrawSliderBar(std::span<const std::uint8_t> data)
{
    const std::uint8_t number = ByteOf(data, 0);
    const std::uint8_t sliderPage = ByteOf(data, 1);

    for (const TrackRun& track : kTrackRuns) {
        const std::array<std::uint8_t, kSliderRunLength> run{0x00, track.middle, 0x00};
        WriteColumnRun(track.page, kSliderColumn, run);
    }

    const auto sliderRun = [data](std::size_t from) {
        return std::array<std::uint8_t, kSliderRunLength>{ByteOf(data, from), ByteOf(data, from + 1),
                                                          ByteOf(data, from + 2)};
    };
    const Placement first = WriteColumnRun(sliderPage, kSliderColumn, sliderRun(2));
    if (data.size() == kTwoPageSliderLength) {
        // The second page follows the page the first run really went to.
        WriteColumnRun(static_cast<std::uint8_t>(first.page + 1), kSliderColumn, sliderRun(2 + kSliderRunLength));
    }

    if (number > kHighestSliderNumber) {
        errors_ |= kStatusFrameError;
        return;
    }

    const auto writeDigit = [this](std::uint8_t column, bool blank, std::uint8_t digit) {
        std::array<std::uint8_t, kDigitRunLength> run{};
        if (!blank) {
            const GlyphColumns glyph = DigitGlyph(digit);
            std::copy(glyph.begin(), glyph.end(), run.begin());
        }
        WriteColumnRun(0, column, run);
    };
    writeDigit(kUnitsColumn, false, number % 10);
    writeDigit(kTensColumn, number <= 9, number / 10);
}

void DisplayController::DrawAndRepeat(std::span<const std::uint8_t> data)
{
    const std::span<const std::uint8_t> pattern = BytesFrom(data, 3);
    const unsigned copies = ByteOf(data, 2) + 1u;
    // Worked out in full width: a byte would wrap and let an oversized run
    // through.
    const std::size_t total = pattern.size() * copies;
    if (total > kDisplayColumns) {
        errors_ |= kStatusFrameError;
        return;
    }

    std::array<std::uint8_t, kDisplayColumns> run{};
    for (std::size_t i = 0; i < total; ++i) {
        run[i] = pattern[i % pattern.size()];
    }
    WriteColumnRun(ByteOf(data, 1), ByteOf(data, 0), std::span(run).first(total));
}

void DisplayController::DrawIcon(std::span<const std::uint8_t> data)
{
    const std::span<const std::uint8_t> icon = IconColumns(ByteOf(data, 2));
    if (icon.empty()) {
        errors_ |= kStatusFrameError;
        return;
    }
    WriteColumnRun(ByteOf(data, 1), ByteOf(data, 0), icon);
}

} // namespace quillon
