#include "tests/display/display_test.h"

#include <string>

namespace quillon::testing {
namespace {

using TextRendererTest = DisplayTest;

// One character cell of 'A' (columns X Y Y Y X of the glyph) at scale s.
Bytes CellOfA(std::uint8_t outer, std::uint8_t inner, std::uint8_t spacing, int s)
{
    return Repeat({{outer, s}, {inner, 3 * s}, {outer, s}, {spacing, s}});
}

struct SizeCase {
    std::uint8_t attribute;
    std::vector<Bytes> pages; // one run per band page, top first
};

TEST_F(TextRendererTest, LetterAInEverySizeAndInverse)
{
    const SizeCase cases[] = {
        {0x00, {CellOfA(0x7E, 0x11, 0x00, 1)}},
        {0x40, {CellOfA(0x81, 0xEE, 0xFF, 1)}},
        {0x80, {CellOfA(0x81, 0xEE, 0xFF, 1)}},
        {0x08, {CellOfA(0xF8, 0x06, 0x00, 1), CellOfA(0x7F, 0x06, 0x00, 1)}},
        {0x48, {CellOfA(0x07, 0xF9, 0xFF, 1), CellOfA(0x80, 0xF9, 0xFF, 1)}},
        {0x18, {CellOfA(0xE0, 0x1C, 0x00, 3), CellOfA(0xFF, 0xC0, 0x00, 3), CellOfA(0x7F, 0x01, 0x00, 3)}},
        {0x20,
         {CellOfA(0x80, 0x78, 0x00, 4), CellOfA(0xFF, 0x00, 0x00, 4), CellOfA(0xFF, 0x78, 0x00, 4),
          CellOfA(0x7F, 0x00, 0x00, 4)}},
        {0x28,
         {CellOfA(0x00, 0xC0, 0x00, 5), CellOfA(0xF0, 0x0F, 0x00, 5), CellOfA(0xFF, 0x00, 0x00, 5),
          CellOfA(0xFF, 0xE0, 0x00, 5), CellOfA(0xFF, 0x07, 0x00, 5), CellOfA(0x7F, 0x00, 0x00, 5)}},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "attribute 0x" << std::hex << int(c.attribute));
        runs.Clear();
        Text("A", c.attribute, 0);
        ASSERT_EQ(runs.runs.size(), c.pages.size());
        for (std::size_t page = 0; page < c.pages.size(); ++page) {
            EXPECT_EQ(runs.runs[page].place.page, static_cast<int>(page));
            EXPECT_EQ(runs.runs[page].place.column, 0);
            EXPECT_EQ(runs.runs[page].bytes, c.pages[page]) << "band page " << page;
        }
        EXPECT_EQ(Errors(), 0);
    }
}

// Pixel rows of the band that glyph row r covers, as the text sizes define
// them; the stretch masks must follow from these.
std::pair<int, int> CoveredRows(int size, int r)
{
    static const int size5First[] = {6, 12, 18, 23, 29, 35, 41};
    static const int size5Last[] = {11, 17, 22, 28, 34, 40, 46};
    switch (size) {
    case 0:
        return {r, r};
    case 1:
        return {2 * r + 1, 2 * r + 2};
    case 3:
        return {3 * r + 2, 3 * r + 4};
    case 4:
        return {4 * r + 3, 4 * r + 6};
    default:
        return {size5First[r], size5Last[r]};
    }
}

TEST_F(TextRendererTest, StretchMasksCoverTheRowsOfEachSize)
{
    for (int size : {0, 1, 3, 4, 5}) {
        for (int page = 0; page < 6; ++page) {
            for (int r = 0; r < 7; ++r) {
                const auto [first, last] = CoveredRows(size, r);
                std::uint8_t mask = 0;
                for (int y = std::max(first, 8 * page); y <= std::min(last, 8 * page + 7); ++y) {
                    mask |= static_cast<std::uint8_t>(1 << (y - 8 * page));
                }
                EXPECT_EQ(DisplayController::StretchGlyphColumn(size, page, 1 << r), mask)
                    << "size " << size << " band page " << page << " glyph row " << r;
            }
            EXPECT_EQ(DisplayController::StretchGlyphColumn(size, page, 0x80), 0);
            for (int glyph = 0; glyph < 256; ++glyph) {
                std::uint8_t merged = 0;
                for (int r = 0; r < 8; ++r) {
                    if ((glyph >> r) & 1) {
                        merged |= DisplayController::StretchGlyphColumn(size, page, 1 << r);
                    }
                }
                ASSERT_EQ(DisplayController::StretchGlyphColumn(size, page, glyph), merged);
            }
        }
    }
}

TEST_F(TextRendererTest, CharacterWithBitSevenIsInverseInsideNormalText)
{
    Text("A\xC1", 0x00, 0);
    EXPECT_EQ(Columns(0, 0, 12), (Bytes{0x7E, 0x11, 0x11, 0x11, 0x7E, 0x00, 0x81, 0xEE, 0xEE, 0xEE, 0x81, 0xFF}));
}

TEST_F(TextRendererTest, CodesWithoutGlyphShowAQuestionMark)
{
    EXPECT_EQ(Command(1, {0, 0, 0x00, 0x7F, 0xFF}), 0);
    EXPECT_EQ(Columns(0, 0, 18), (Bytes{0x02, 0x01, 0x51, 0x09, 0x06, 0x00, 0x02, 0x01, 0x51, 0x09, 0x06, 0x00, 0xFD,
                                        0xFE, 0xAE, 0xF6, 0xF9, 0xFF}));
    EXPECT_EQ(Errors(), 0);
}

struct PlacementCase {
    std::string text;
    std::uint8_t attribute;
    std::uint8_t column;
    std::vector<RunPlace> runs;
    bool error;
};

TEST_F(TextRendererTest, RunsAreClippedOrWrappedButWhatFitsIsDrawn)
{
    const PlacementCase cases[] = {
        {"A", 0x0F, 0, {{0, 7, 6}, {0, 0, 6}}, true},           // size 1 band wraps to page 0
        {std::string(22, 'x'), 0x00, 0, {{0, 0, 126}}, true},   // past the line limit
        {std::string(21, 'x'), 0x00, 10, {{10, 0, 118}}, true}, // past the right edge
        {"1234", 0x29, 8, {{8, 1, 120}, {8, 2, 120}, {8, 3, 120}, {8, 4, 120}, {8, 5, 120}, {8, 6, 120}}, false},
        {"AB", 0x2C, 0, {{0, 4, 60}, {0, 5, 60}, {0, 6, 60}, {0, 7, 60}, {0, 0, 60}, {0, 1, 60}}, true},
        {"A", 0x00, 128, {{0, 0, 6}}, true}, // column 128 moves to 0
        {"A", 0x00, 200, {{0, 0, 6}}, true}, // cut to 128 first
        {"A", 0x10, 0, {}, true},            // size 2 draws nothing
        {"A", 0x30, 0, {}, true},            // size 6
        {"A", 0x38, 0, {}, true},            // size 7
        {"", 0x10, 0, {}, false},            // empty text, no size
    };
    for (const PlacementCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << '"' << c.text << "\" attribute " << int(c.attribute) << " column " << int(c.column));
        runs.Clear();
        Text(c.text, c.attribute, c.column);
        EXPECT_EQ(Places(), c.runs);
        EXPECT_EQ(Errors(), c.error ? 0x08 : 0x00);
    }
}

TEST_F(TextRendererTest, EmptyTextWritesNothingAndDoesNotRepaint)
{
    Text("", 0x28, 0);
    EXPECT_TRUE(runs.runs.empty()) << "no run, so no repaint either";
    EXPECT_EQ(Errors(), 0);
}

TEST_F(TextRendererTest, LineLimitOfEachSize)
{
    const std::pair<std::uint8_t, int> limits[] = {{0x00, 21}, {0x08, 21}, {0x18, 7}, {0x20, 5}, {0x28, 4}};
    for (const auto& [attribute, limit] : limits) {
        const int cellWidth = attribute == 0x00 || attribute == 0x08 ? 6 : 6 * (attribute >> 3);
        for (int extra : {0, 1}) {
            runs.Clear();
            Text(std::string(limit + extra, 'M'), attribute, 0);
            ASSERT_FALSE(runs.runs.empty());
            EXPECT_EQ(runs.runs[0].bytes.size(), static_cast<std::size_t>(limit * cellWidth));
            EXPECT_EQ(Errors(), extra ? 0x08 : 0x00) << "attribute " << int(attribute) << " extra " << extra;
        }
    }
}

TEST_F(TextRendererTest, OverlongProgramStringBecomesAnErrorNotice)
{
    const std::string tooLong(23, 'z');
    Text(tooLong, 0x00, 0);
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{0, 0, 42}}));
    EXPECT_EQ(Columns(0, 0, 6), (Bytes{0x7F, 0x49, 0x49, 0x49, 0x41, 0x00})) << "starts with E";
    EXPECT_EQ(Errors(), 0);

    runs.Clear();
    Text(tooLong + "zzzz", 0x08, 0);
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{0, 0, 42}, {0, 1, 42}}));
    EXPECT_EQ(Errors(), 0);

    runs.Clear();
    Text(tooLong, 0x20, 0);
    EXPECT_EQ(runs.runs.size(), 4u);
    EXPECT_EQ(runs.runs[0].bytes.size(), 120u) << "five characters in size 4";
    EXPECT_EQ(Errors(), 0x08);

    runs.Clear();
    Text(std::string(22, 'z'), 0x00, 0);
    EXPECT_EQ(runs.runs[0].bytes[0], 0x44) << "22 characters are still drawn as given";
}

// The program's own text, drawn between two frames of a block (as the
// silence message may be), leaves the rest of the block to be read where it
// lies.
TEST(ProgramTextInABlock, PutStringLeavesTheFrameBeingExecuted)
{
    EngineFixture f;
    f.Receive(Frame(kWriteString, {0x00, 0x00, 'A'}, false));
    f.engine.Tick();
    f.runs.Clear();

    f.engine.controller().PutString("Hello", 0x08, 30, true);
    ASSERT_EQ(f.runs.runs.size(), 18u) << "16 clearing runs, then two text runs";
    EXPECT_EQ(f.runs.runs[16].place.column, 30);

    EXPECT_EQ(f.Exchange(Frame(kWriteArray, {20, 4, 0x3C})), (Bytes{0x05, 0x01, 0x00, 0x07}));
    EXPECT_EQ(f.display().Column(4, 20), 0x3C);
}

TEST_F(TextRendererTest, FrameHeaderLayout)
{
    Fill(0xFF);
    EXPECT_EQ(Command(9, {'M', 'E', 'N', 'U'}), 0);

    std::vector<RunPlace> expected;
    for (int page = 0; page < 8; ++page) {
        expected.push_back({0, page, 64});
        expected.push_back({64, page, 64});
    }
    expected.insert(expected.end(), {{0, 0, 57}, {57, 0, 57}, {50, 0, 2}, {76, 0, 3}, {52, 0, 24}});
    EXPECT_EQ(Places(), expected);

    EXPECT_EQ(Columns(0, 0, 50), Bytes(50, 0x10));
    EXPECT_EQ(Columns(0, 50, 2), Bytes(2, 0x00));
    EXPECT_EQ(Columns(0, 52, 6), (Bytes{0x7F, 0x02, 0x0C, 0x02, 0x7F, 0x00}));
    EXPECT_EQ(Columns(0, 76, 3), Bytes(3, 0x00));
    EXPECT_EQ(Columns(0, 79, 35), Bytes(35, 0x10));
    EXPECT_EQ(Columns(0, 114, 14), Bytes(14, 0x00));
    for (int page = 1; page < 8; ++page) {
        EXPECT_EQ(Columns(page, 0, 128), Bytes(128, 0x00)) << "page " << page;
    }
    EXPECT_EQ(Errors(), 0);
}

TEST_F(TextRendererTest, FrameHeaderTitleIsCentredOnTheDisplayOrOnTheRule)
{
    const std::pair<int, int> cases[] = {{1, 61}, {4, 52}, {12, 28}, {13, 18}, {17, 6}, {21, 6}};
    for (const auto& [length, start] : cases) {
        runs.Clear();
        Command(9, Bytes(length, 'H'));
        const int drawn = std::min(length, 17);
        ASSERT_EQ(runs.runs.size(), 21u);
        const std::vector<RunPlace> places = Places();
        const std::vector<RunPlace> tail(places.end() - 3, places.end());
        EXPECT_EQ(tail, (std::vector<RunPlace>{{start - 2, 0, 2}, {start + 6 * drawn, 0, 3}, {start, 0, 6 * drawn}}))
            << length << " characters";
        EXPECT_EQ(Errors(), 0) << "a long title is cut silently";
    }
}

TEST_F(TextRendererTest, FrameHeaderTitleIsSmallAndNormalButKeepsInverseCharacters)
{
    Command(1, {0x00, 0xEE, 'A'});
    Command(9, {'A', 0xC1});
    EXPECT_EQ(runs.runs.back().place.page, 0);
    EXPECT_EQ(runs.runs.back().bytes, (Bytes{0x7E, 0x11, 0x11, 0x11, 0x7E, 0x00, 0x81, 0xEE, 0xEE, 0xEE, 0x81, 0xFF}));
}

} // namespace
} // namespace quillon::testing
