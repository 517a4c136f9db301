#include <algorithm>
#include <array>
#include <string_view>

#include "display/display_controller.h"
#include "display/glyph_tables.h"
#include "display/text_sizes.h"
#include "protocol/protocol.h"

namespace quillon {

namespace {

constexpr std::uint8_t kCellColumnsPerScale = kGlyphWidth + 1;
constexpr std::uint8_t kGlyphRows = 7;
// The page range that covers the whole display: first page 0, last page 7.
constexpr std::uint8_t kWholeDisplayPageRange = 0x38;
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

void DisplayController::DrawText(std::span<const std::uint8_t> text, std::uint8_t attribute, std::uint8_t column,
                                 std::uint8_t page)
{
    const TextSize& size = kTextSizes[TextSizeCode(attribute)];
    if (text.size() > size.lineLimit) {
        errors_ |= kStatusFrameError;
        text = text.first(size.lineLimit);
    }
    if (column > kHighestTextColumn) {
        errors_ |= kStatusFrameError;
        column = kHighestTextColumn;
    }
    if (page > kHighestTextPage) {
        errors_ |= kStatusFrameError;
        page = kHighestTextPage;
    }
    RenderText(text, attribute, column, page);
}

void DisplayController::RenderText(std::span<const std::uint8_t> text, std::uint8_t attribute, std::uint8_t column,
                                   std::uint8_t page)
{
    const std::uint8_t size = TextSizeCode(attribute);
    const std::uint8_t bandPages = kTextSizes[size].bandPages;
    const std::uint8_t scaleX = kTextSizes[size].scaleX;
    const bool textInverse = (attribute & 0xC0) != 0;

    // One run per band page, top page first; a character's cell on each page
    // is its glyph columns stretched scaleX times, then scaleX spacing columns.
    std::array<std::uint8_t, kDisplayColumns> run{};
    for (std::uint8_t bandPage = 0; bandPage < bandPages; ++bandPage) {
        if (text.empty()) {
            page = static_cast<std::uint8_t>(page + 1);
            continue;
        }
        auto cell = run.begin();
        for (const std::uint8_t character : text) {
            const TextGlyph glyph = LookUpGlyph(character);
            // An inverse cell is the complement of the whole normal cell.
            const std::uint8_t background = (textInverse || glyph.inverse) ? 0xFF : 0x00;
            for (const std::uint8_t glyphColumn : glyph.columns) {
                cell = std::fill_n(cell, scaleX, StretchGlyphColumn(size, bandPage, glyphColumn) ^ background);
            }
            cell = std::fill_n(cell, scaleX, background);
        }
        const Placement placed =
            WriteColumnRun(page, column, std::span(run).first(text.size() * kCellColumnsPerScale * scaleX));
        // The next band page continues below the page the run really went
        // to, so a band that runs off the bottom wraps to the top.
        page = static_cast<std::uint8_t>(placed.page + 1);
    }
}

std::uint8_t DisplayController::StretchGlyphColumn(std::uint8_t size, std::uint8_t bandPage, std::uint8_t glyphByte)
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

std::uint8_t DisplayController::PutString(std::string_view text, std::uint8_t attribute, std::uint8_t column,
                                          bool clearFirst)
{
    BeginOperation();
    if (clearFirst) {
        ClearPages(kWholeDisplayPageRange);
    }
    DrawProgramText(text, attribute, column);
    return errors_;
}

void DisplayController::DrawProgramText(std::string_view text, std::uint8_t attribute, std::uint8_t column)
{
    std::array<std::uint8_t, kPutStringLimit> characters{};
    std::size_t length = 0;
    while (length < text.size() && length < kPutStringLimit && text[length] != '\0') {
        characters[length] = static_cast<std::uint8_t>(text[length]);
        ++length;
    }
    if (length == kPutStringLimit) {
        const std::string_view notice(kPutStringTooLong);
        length = notice.size();
        std::copy(notice.begin(), notice.end(), characters.begin());
    }
    DrawText(std::span(characters).first(length), attribute, column, attribute & 0x07);
}

void DisplayController::WriteFrameHeader(std::span<const std::uint8_t> data)
{
    ClearPages(kWholeDisplayPageRange);

    // A longer title is cut without complaint.
    const std::span<const std::uint8_t> title = data.first(std::min<std::size_t>(data.size(), kHeaderTitleLimit));

    std::array<std::uint8_t, kHeaderRuleRun> rule{};
    rule.fill(kHeaderRuleByte);
    for (const std::uint8_t column : {std::uint8_t{0}, kHeaderRuleRun}) {
        WriteColumnRun(0, column, rule);
    }

    // Short titles are centred on the display, long ones on the rule.
    const int titleColumns = static_cast<int>(kCellColumnsPerScale * title.size());
    const int centreWidth = title.size() <= kHeaderCentredLimit ? kDisplayColumns : kHeaderRuleEnd;
    const auto start = static_cast<std::uint8_t>((centreWidth - titleColumns) / 2);

    const std::array<std::uint8_t, kHeaderGapAfter> gap{};
    WriteColumnRun(0, static_cast<std::uint8_t>(start - kHeaderGapBefore), std::span(gap).first(kHeaderGapBefore));
    WriteColumnRun(0, static_cast<std::uint8_t>(start + titleColumns), gap);

    // Size code 0, never inverse: the title is plain one-page text.
    DrawText(title, 0, start, 0);
}

} // namespace quillon
