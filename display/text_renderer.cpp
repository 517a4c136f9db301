#include <algorithm>
#include <array>
#include <cstring>

#include "display/controller.h"
#include "display/glyph_tables.h"
#include "link/panel_link.h"

namespace quillon {

namespace {

// What each size code draws: columns per glyph column, pages of the text band
// and the characters that fit one line. Codes 2, 6 and 7 are not sizes.
struct TextSize {
    std::uint8_t scaleX;
    std::uint8_t bandPages;
    std::uint8_t lineLimit;
};

constexpr std::array<TextSize, 8> kTextSizes{{
    {1, 1, 21},
    {1, 2, 21},
    {0, 0, 0},
    {3, 3, 7},
    {4, 4, 5},
    {5, 6, 4},
    {0, 0, 0},
    {0, 0, 0},
}};

constexpr std::uint8_t kCellColumnsPerScale = kGlyphWidth + 1;
constexpr std::uint8_t kGlyphRows = 7;
constexpr std::size_t kMaxBandPages = 6;

// For each size and band page, the band-page bits that glyph row r (bit r of
// a glyph byte) covers. Size 0 is the glyph as stored; the larger sizes
// repeat each glyph row over 2, 3, 4 or 6 band rows (5 for the third row of
// size 5, so the glyph fits its 48-row band) between blank margins at the
// top and bottom of the band. Glyph bit 7 is never drawn.
using MaskRow = std::array<std::uint8_t, kGlyphRows>;
constexpr std::array<std::array<MaskRow, kMaxBandPages>, 6> kStretchMasks{{
    {{{0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40}}},
    {{
        {0x06, 0x18, 0x60, 0x80, 0x00, 0x00, 0x00},
        {0x00, 0x00, 0x00, 0x01, 0x06, 0x18, 0x60},
    }},
    {},
    {{
        {0x1C, 0xE0, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x00, 0x00, 0x07, 0x38, 0xC0, 0x00, 0x00},
        {0x00, 0x00, 0x00, 0x00, 0x01, 0x0E, 0x70},
    }},
    {{
        {0x78, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x00, 0x07, 0x78, 0x80, 0x00, 0x00, 0x00},
        {0x00, 0x00, 0x00, 0x07, 0x78, 0x80, 0x00},
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x78},
    }},
    {{
        {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x0F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x00, 0x03, 0x7C, 0x80, 0x00, 0x00, 0x00},
        {0x00, 0x00, 0x00, 0x1F, 0xE0, 0x00, 0x00},
        {0x00, 0x00, 0x00, 0x00, 0x07, 0xF8, 0x00},
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x7E},
    }},
}};

// A text may start at column 128 or on page 8: WriteColumnRun then moves it
// to column 0 or page 0, which is the panel's behaviour.
constexpr std::uint8_t kHighestTextColumn = 128;
constexpr std::uint8_t kHighestTextPage = 8;

// A program string of this length or more is replaced by a short notice.
constexpr std::size_t kPutStringLimit = 23;
constexpr char kPutStringTooLong[] = "ERROR 1";

// The frame header: a rule along pixel row 4 of page 0 over columns 0 to 113
// (two runs of 57), broken around a centred title of at most 17 characters.
constexpr std::uint8_t kHeaderRuleByte = 0x10;
constexpr std::uint8_t kHeaderRuleRun = 57;
constexpr std::uint8_t kHeaderRuleEnd = 2 * kHeaderRuleRun;
constexpr std::uint8_t kHeaderTitleLimit = 17;
constexpr std::uint8_t kHeaderCentredLimit = 12;
constexpr std::uint8_t kHeaderGapBefore = 2;
constexpr std::uint8_t kHeaderGapAfter = 3;

} // namespace

void CPanelLink::CopyTextFromFrame(std::uint8_t offset, std::uint8_t count)
{
    DisplayWork& work = state_.work;
    // Characters beyond the copy are past every line limit and never drawn.
    const std::size_t copied = std::min<std::size_t>(count, work.textCopy.size());
    for (std::size_t i = 0; i < copied; ++i) {
        work.textCopy[i] = state_.rxBuffer.At(std::size_t{offset} + i);
    }
    work.textPtr = work.textCopy.data();
}

void CPanelLink::PrepareText(TextSource source)
{
    DisplayWork& work = state_.work;
    if (source == TextSource::CurrentFrame) {
        work.textLength = static_cast<std::uint8_t>(work.frameLength - 2);
        CopyTextFromFrame(state_.dataPtr, work.textLength);
    }

    const TextSize& size = kTextSizes[(state_.textAttribute >> 3) & 0x07];
    if (size.bandPages != 0) {
        work.scaleX = size.scaleX;
    }
    work.bandPagesLeft = size.bandPages;
    work.lineLimit = size.lineLimit;

    if (work.textLength > work.lineLimit) {
        state_.status |= kStatusFrameError;
        work.textLength = work.lineLimit;
    }
    if (work.runColumn > kHighestTextColumn) {
        state_.status |= kStatusFrameError;
        work.runColumn = kHighestTextColumn;
    }
    if (work.runPage > kHighestTextPage) {
        state_.status |= kStatusFrameError;
        work.runPage = kHighestTextPage;
    }

    RenderText();
}

void CPanelLink::RenderText()
{
    DisplayWork& work = state_.work;
    if (work.bandPagesLeft == 0) {
        return;
    }

    const std::uint8_t startColumn = work.runColumn;
    const std::uint8_t bandPages = work.bandPagesLeft;
    const std::uint8_t size = (state_.textAttribute >> 3) & 0x07;
    const bool textInverse = (state_.textAttribute & 0xC0) != 0;
    const std::uint8_t scaleX = work.scaleX;

    // One run per band page, top page first; a character's cell on each page
    // is its glyph columns stretched scaleX times, then scaleX spacing columns.
    while (work.bandPagesLeft > 0) {
        const auto bandPage = static_cast<std::uint8_t>(bandPages - work.bandPagesLeft);
        if (work.textLength > 0) {
            for (work.charIndex = 0; work.charIndex < work.textLength; ++work.charIndex) {
                work.cellOffset = static_cast<std::uint8_t>(work.charIndex * kCellColumnsPerScale * scaleX);
                const TextGlyph glyph = LookUpGlyph(work.textPtr[work.charIndex]);
                work.inverse = (textInverse || glyph.inverse) ? 1 : 0;
                // An inverse cell is the complement of the whole normal cell.
                const std::uint8_t background = work.inverse != 0 ? 0xFF : 0x00;

                auto cell = work.runBuffer.begin() + work.cellOffset;
                for (const std::uint8_t column : glyph.columns) {
                    work.glyphColumn = column;
                    work.stretchedColumn = StretchGlyphColumn(size, bandPage, work.glyphColumn) ^ background;
                    cell = std::fill_n(cell, scaleX, work.stretchedColumn);
                }
                std::fill_n(cell, scaleX, background);
            }
            work.runLength = static_cast<std::uint8_t>(work.textLength * kCellColumnsPerScale * scaleX);
            WriteColumnRun(work.runBuffer.data());
        }
        // The next band page continues below the page the run really went
        // to, so a band that runs off the bottom wraps to the top.
        work.runColumn = startColumn;
        work.runPage = static_cast<std::uint8_t>(work.runPage + 1);
        --work.bandPagesLeft;
    }
}

std::uint8_t CPanelLink::StretchGlyphColumn(std::uint8_t size, std::uint8_t bandPage, std::uint8_t glyphByte)
{
    if (size >= kStretchMasks.size() || bandPage >= kMaxBandPages) {
        return 0;
    }
    const MaskRow& masks = kStretchMasks[size][bandPage];
    std::uint8_t stretched = 0;
    for (std::uint8_t row = 0; row < kGlyphRows; ++row) {
        if ((glyphByte >> row) & 1) {
            stretched |= masks[row];
        }
    }
    return stretched;
}

void CPanelLink::PutString(const char* text, std::uint8_t attribute, std::uint8_t column, bool clearFirst)
{
    DisplayWork& work = state_.work;
    std::size_t length = 0;
    while (length < kPutStringLimit && text[length] != '\0') {
        work.textCopy[length] = static_cast<std::uint8_t>(text[length]);
        ++length;
    }
    if (length == kPutStringLimit) {
        length = std::strlen(kPutStringTooLong);
        std::copy_n(kPutStringTooLong, length, work.textCopy.begin());
    }

    if (clearFirst) {
        state_.pageRange = kWholeDisplayPageRange;
        ClearPages();
    }

    // Only text fields change: this may run in the middle of a block, whose
    // frame fields and receive buffer the supervisor still needs.
    state_.textAttribute = attribute;
    work.runColumn = column;
    work.runPage = attribute & 0x07;
    work.textLength = static_cast<std::uint8_t>(length);
    work.textPtr = work.textCopy.data();
    PrepareText(TextSource::GivenText);
}

void CPanelLink::WriteFrameHeader()
{
    DisplayWork& work = state_.work;
    state_.pageRange = kWholeDisplayPageRange;
    ClearPages();

    // A longer title is cut without complaint.
    const std::uint8_t length = std::min(work.frameLength, kHeaderTitleLimit);
    work.textLength = length;
    CopyTextFromFrame(state_.dataPtr, length);

    std::fill_n(work.runBuffer.begin(), kHeaderRuleRun, kHeaderRuleByte);
    for (const std::uint8_t column : {std::uint8_t{0}, kHeaderRuleRun}) {
        work.runLength = kHeaderRuleRun;
        work.runPage = 0;
        work.runColumn = column;
        WriteColumnRun(work.runBuffer.data());
    }

    // Short titles are centred on the display, long ones on the rule.
    const int titleColumns = kCellColumnsPerScale * length;
    const int centreWidth = length <= kHeaderCentredLimit ? kDisplayColumns : kHeaderRuleEnd;
    const auto start = static_cast<std::uint8_t>((centreWidth - titleColumns) / 2);

    std::fill_n(work.runBuffer.begin(), kHeaderGapAfter, std::uint8_t{0});
    work.runPage = 0;
    work.runColumn = static_cast<std::uint8_t>(start - kHeaderGapBefore);
    work.runLength = kHeaderGapBefore;
    WriteColumnRun(work.runBuffer.data());
    work.runPage = 0;
    work.runColumn = static_cast<std::uint8_t>(start + titleColumns);
    work.runLength = kHeaderGapAfter;
    WriteColumnRun(work.runBuffer.data());

    work.runColumn = start;
    work.runPage = 0;
    state_.textAttribute &= 0x07;
    PrepareText(TextSource::GivenText);
}

} // namespace quillon
