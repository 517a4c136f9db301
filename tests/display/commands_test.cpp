#include "tests/display/display_test.h"

#include "display/glyph_tables.h"

namespace quillon::testing {
namespace {

using CommandsTest = DisplayTest;

TEST_F(CommandsTest, WriteArrayPaintsItsBytesStraightFromTheFrame)
{
    Fill(0x55);
    EXPECT_EQ(Command(2, {10, 3, 0xFF, 0x81}), 0);
    EXPECT_EQ(Memory().Column(3, 10), 0xFF);
    for (int y = 24; y < 32; ++y) {
        EXPECT_EQ(Memory().Pixel(11, y), y == 24 || y == 31) << "row " << y;
    }
    EXPECT_EQ(Errors(), 0);
}

TEST_F(CommandsTest, WriteArrayOfTheLongestFrameFillsToTheRightEdge)
{
    Bytes data{13, 5};
    for (int i = 0; i < 115; ++i) {
        data.push_back(static_cast<std::uint8_t>(i + 1));
    }
    EXPECT_EQ(Command(2, data), 0);
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{13, 5, 115}}));
    EXPECT_EQ(Memory().Column(5, 127), 115);
    EXPECT_EQ(Errors(), 0);
}

TEST_F(CommandsTest, WriteArrayOutOfRangeIsClipped)
{
    Command(2, {126, 0, 1, 2, 3, 4, 5});
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{126, 0, 2}}));
    EXPECT_EQ(Columns(0, 126, 2), (Bytes{1, 2}));
    EXPECT_EQ(Errors(), 0x08);

    runs.Clear();
    Command(2, {4, 8, 0x99});
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{4, 0, 1}}));
    EXPECT_EQ(Errors(), 0x08);
}

TEST_F(CommandsTest, WriteStringClearsTheLinesPagesFirst)
{
    Command(1, {0x85, 0x0A, 'A'});
    EXPECT_EQ(Places(),
              (std::vector<RunPlace>{{0, 2, 64}, {64, 2, 64}, {0, 3, 64}, {64, 3, 64}, {5, 2, 6}, {5, 3, 6}}));
    EXPECT_EQ(Errors(), 0);
}

TEST_F(CommandsTest, WriteStringWithoutTheFlagClearsNothing)
{
    Command(1, {0x05, 0x0A, 'A'});
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{5, 2, 6}, {5, 3, 6}}));
}

TEST_F(CommandsTest, WriteStringRefusesToClearABandPastTheBottomButDrawsIt)
{
    // Six pages from page 6 would end on page 11.
    Command(1, {0x80, 0x2E, 'A'});
    EXPECT_EQ(Errors(), 0x08);
    EXPECT_EQ(Places(),
              (std::vector<RunPlace>{{0, 6, 30}, {0, 7, 30}, {0, 0, 30}, {0, 1, 30}, {0, 2, 30}, {0, 3, 30}}));
}

TEST_F(CommandsTest, WriteStringWithAnInvalidSizeClearsAndDrawsNothing)
{
    for (std::uint8_t attribute : {0x10, 0x30, 0x38}) {
        Command(1, {0x80, attribute, 'A'});
        EXPECT_EQ(Errors(), 0x08) << "attribute " << int(attribute);
    }
    EXPECT_TRUE(runs.runs.empty());
}

TEST_F(CommandsTest, SetupDisplayDrawsTheStartupScreenOnlyWithBitSeven)
{
    Command(3, {0x7F});
    EXPECT_TRUE(runs.runs.empty());
    Command(3, {0x80});
    EXPECT_EQ(runs.runs.size(), 8u);
    EXPECT_EQ(Errors(), 0);
}

TEST_F(CommandsTest, ContrastIsKeptUpToSixtyThreeAndDrawsNothing)
{
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {{0, 0}, {40, 40}, {63, 63}, {64, 63}, {200, 63}, {255, 63}};
    for (const auto& [sent, kept] : cases) {
        Command(6, {sent});
        EXPECT_EQ(display.contrast(), kept) << "sent " << int(sent);
        EXPECT_EQ(Errors(), 0);
    }
    EXPECT_TRUE(runs.runs.empty());
}

const Bytes kDigit[10] = {
    {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00}, {0x42, 0x61, 0x51, 0x49, 0x46},
    {0x21, 0x49, 0x4D, 0x4B, 0x31}, {0x18, 0x14, 0x12, 0x7F, 0x10}, {0x27, 0x45, 0x45, 0x45, 0x39},
    {0x3C, 0x4A, 0x49, 0x49, 0x30}, {0x01, 0x71, 0x09, 0x05, 0x03}, {0x36, 0x49, 0x49, 0x49, 0x36},
    {0x06, 0x49, 0x49, 0x29, 0x1E},
};

Bytes DigitCell(int digit)
{
    Bytes cell = kDigit[digit];
    cell.push_back(0x00);
    return cell;
}

TEST_F(CommandsTest, SliderBarDrawsTrackSliderAndNumberInOrder)
{
    Fill(0xFF);
    EXPECT_EQ(Command(8, {7, 3, 0x11, 0x22, 0x33}), 0);
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{125, 2, 3},
                                               {125, 3, 3},
                                               {125, 4, 3},
                                               {125, 5, 3},
                                               {125, 1, 3},
                                               {125, 6, 3},
                                               {125, 3, 3},
                                               {122, 0, 6},
                                               {116, 0, 6}}));
    EXPECT_EQ(runs.runs[0].bytes, (Bytes{0x00, 0xFF, 0x00}));
    EXPECT_EQ(runs.runs[4].bytes, (Bytes{0x00, 0xFE, 0x00}));
    EXPECT_EQ(runs.runs[5].bytes, (Bytes{0x00, 0x7F, 0x00}));
    EXPECT_EQ(Columns(3, 125, 3), (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(Columns(0, 122, 6), DigitCell(7));
    EXPECT_EQ(Columns(0, 116, 6), Bytes(6, 0x00)) << "one digit blanks the tens place";
    for (int y = 8; y < 56; ++y) {
        if (y / 8 != 3) {
            EXPECT_EQ(Memory().Pixel(126, y), y >= 9 && y <= 54) << "track row " << y;
            EXPECT_FALSE(Memory().Pixel(125, y));
        }
    }
}

TEST_F(CommandsTest, SliderNumberIsRightAligned)
{
    for (int number : {0, 9, 10, 42, 99}) {
        Command(8, {static_cast<std::uint8_t>(number), 2, 0, 0, 0});
        EXPECT_EQ(Columns(0, 122, 6), DigitCell(number % 10)) << number;
        EXPECT_EQ(Columns(0, 116, 6), number < 10 ? Bytes(6, 0) : DigitCell(number / 10)) << number;
        EXPECT_EQ(Errors(), 0);
    }
}

TEST_F(CommandsTest, SliderNumberAboveNinetyNineLeavesTheNumberArea)
{
    Fill(0xA5);
    Command(8, {100, 2, 1, 2, 3});
    EXPECT_EQ(Errors(), 0x08);
    EXPECT_EQ(runs.runs.size(), 7u) << "track and slider are still drawn";
    EXPECT_EQ(Columns(0, 116, 12), Bytes(12, 0xA5));
}

TEST_F(CommandsTest, SecondSliderPageFollowsTheCorrectedFirst)
{
    Command(8, {5, 9, 1, 2, 3, 4, 5, 6});
    ASSERT_EQ(runs.runs.size(), 10u);
    EXPECT_EQ(runs.runs[6].place.page, 0);
    EXPECT_EQ(runs.runs[6].bytes, (Bytes{1, 2, 3}));
    EXPECT_EQ(runs.runs[7].place.page, 1);
    EXPECT_EQ(runs.runs[7].bytes, (Bytes{4, 5, 6}));
    EXPECT_EQ(Errors(), 0x08);
}

TEST_F(CommandsTest, SliderIgnoresBytesOfAnIncompleteSecondPage)
{
    for (const Bytes& data : {Bytes{5, 2, 1, 2, 3, 4}, Bytes{5, 2, 1, 2, 3, 4, 5}}) {
        runs.Clear();
        Command(8, data);
        EXPECT_EQ(runs.runs.size(), 9u) << data.size() << " data bytes";
    }
}

struct RepeatCase {
    int column;
    Bytes pattern;
    int repeat;
    int paintedLength; // 0: nothing drawn
    bool error;
};

TEST_F(CommandsTest, DrawAndRepeatBuildsOneRunOrRefusesOversizedOnes)
{
    const RepeatCase cases[] = {
        {0, {0x0F, 0xF0}, 3, 8, false},      {0, {0x81}, 127, 128, false},    // exactly one page wide
        {0, {0x81}, 128, 0, true},                                            // 129 columns
        {0, {0x81}, 255, 0, true},           {0, {0x0F, 0xF0}, 127, 0, true}, // 256 columns: wraps to 0 in a byte
        {100, Bytes(10, 0x3C), 3, 28, true}, {0, Bytes(114, 0x3C), 0, 114, false}, {0, Bytes(114, 0x3C), 1, 0, true},
    };
    for (const RepeatCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.pattern.size() << " bytes x " << c.repeat + 1);
        runs.Clear();
        Bytes data{static_cast<std::uint8_t>(c.column), 6, static_cast<std::uint8_t>(c.repeat)};
        data.insert(data.end(), c.pattern.begin(), c.pattern.end());
        Command(10, data);
        EXPECT_EQ(Errors(), c.error ? 0x08 : 0x00);
        if (c.paintedLength == 0) {
            EXPECT_TRUE(runs.runs.empty());
            continue;
        }
        ASSERT_EQ(Places(), (std::vector<RunPlace>{{c.column, 6, c.paintedLength}}));
        for (int i = 0; i < c.paintedLength; ++i) {
            ASSERT_EQ(runs.runs[0].bytes[i], c.pattern[i % c.pattern.size()]) << "byte " << i;
        }
    }
}

TEST_F(CommandsTest, DrawIconPicksTheTableByNumber)
{
    const Bytes icon29{0x3E, 0xC1, 0x42, 0x7F, 0x40, 0x00, 0x42, 0x61, 0x51, 0x49, 0x46, 0x00, 0x22,
                       0x41, 0x49, 0x49, 0x36, 0xC1, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes icon30{0x00, 0x48, 0x7C, 0x40, 0x00, 0x32, 0x2A, 0x24, 0x00, 0x15, 0x15, 0x0A};
    const Bytes padlock{0x00, 0x00, 0x00, 0x78, 0x7E, 0x79, 0x49, 0x79, 0x7E, 0x78, 0x00, 0x00};
    const std::pair<std::uint8_t, Bytes> cases[] = {{0, Bytes(25, 0x00)}, {29, icon29}, {30, icon30}, {41, padlock}};
    for (const auto& [number, bytes] : cases) {
        runs.Clear();
        Fill(0xFF);
        EXPECT_EQ(Command(11, {40, 5, number}), 0) << "icon " << int(number);
        EXPECT_EQ(Places(), (std::vector<RunPlace>{{40, 5, static_cast<int>(bytes.size())}}));
        EXPECT_EQ(Columns(5, 40, static_cast<int>(bytes.size())), bytes) << "icon " << int(number);
        EXPECT_EQ(Memory().Column(5, 40 + static_cast<int>(bytes.size())), 0xFF);
    }
}

TEST_F(CommandsTest, DrawIconWithoutAnIconDrawsNothing)
{
    for (std::uint8_t number : {42, 43, 255}) {
        Command(11, {0, 0, number});
        EXPECT_EQ(Errors(), 0x08);
    }
    EXPECT_TRUE(runs.runs.empty());
}

TEST_F(CommandsTest, DrawIconAtTheRightEdgeIsClipped)
{
    Command(11, {110, 1, 1});
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{110, 1, 18}}));
    EXPECT_EQ(Errors(), 0x08);
}

TEST(ContrastAndReplyMode, SwitchesTheRepliesFromItsOwnBlock)
{
    EngineFixture f;
    EXPECT_EQ(f.Exchange(Frame(14, {80, 0xFF, 0xFF})), (Bytes{0x00}));
    EXPECT_EQ(f.engine.replyMode(), 0xFFFF);
    EXPECT_EQ(f.engine.controller().contrast(), 63);
    EXPECT_FALSE(f.engine.synchRequired()) << "only the reply mode changes";
    EXPECT_EQ(f.Exchange(Frame(5, {0})), (Bytes{0x00}));

    EXPECT_EQ(f.Exchange(Frame(14, {10, 0x01, 0x00})), (Bytes{0x0E, 0x09, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x18}));
    EXPECT_EQ(f.engine.replyMode(), 0x0001);
    EXPECT_EQ(f.engine.controller().contrast(), 10);
    EXPECT_EQ(f.Exchange(Frame(5, {0})), (Bytes{0x05, 0x01, 0x00, 0x07}));

    f.Exchange(Frame(14, {10, 0x34, 0x12}));
    EXPECT_EQ(f.engine.replyMode(), 0x1234) << "low byte first";
}

} // namespace
} // namespace quillon::testing
