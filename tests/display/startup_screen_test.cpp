#include "tests/display/display_test.h"

#include "display/glyph_tables.h"

namespace quillon::testing {
namespace {

using StartupScreenTest = DisplayTest;

TEST_F(StartupScreenTest, EightRunsLogoThenLabelThenStatusText)
{
    EXPECT_EQ(display.ShowStartupScreen(), 0);
    EXPECT_EQ(
        Places(),
        (std::vector<RunPlace>{
            {32, 1, 64}, {32, 2, 64}, {32, 3, 64}, {32, 4, 64}, {0, 6, 36}, {0, 7, 36}, {42, 6, 78}, {42, 7, 78}}));
    for (std::size_t strip = 0; strip < 4; ++strip) {
        EXPECT_EQ(runs.runs[strip].bytes, Bytes(LogoStrip(strip).begin(), LogoStrip(strip).end()));
    }
}

TEST_F(StartupScreenTest, FirstCellsOfLabelAndStatusText)
{
    display.ShowStartupScreen();
    EXPECT_EQ(Columns(6, 0, 6), (Bytes{0x01, 0x79, 0x79, 0x79, 0xF9, 0xFF}));
    EXPECT_EQ(Columns(7, 0, 6), (Bytes{0x80, 0x9E, 0x9E, 0x9E, 0x9F, 0xFF}));
    EXPECT_EQ(Columns(6, 42, 6), (Bytes{0xF8, 0x06, 0x06, 0x06, 0x18, 0x00}));
    EXPECT_EQ(Columns(7, 42, 6), (Bytes{0x1F, 0x60, 0x60, 0x60, 0x18, 0x00}));
    // The label is a dark block: its top and bottom rows are dark all along.
    for (int x = 0; x < 36; ++x) {
        EXPECT_TRUE(Memory().Pixel(x, 48)) << x;
        EXPECT_TRUE(Memory().Pixel(x, 63)) << x;
    }
}

TEST_F(StartupScreenTest, DrawsOverTheDisplayWithoutTouchingTheRest)
{
    Fill(0xA5);
    display.ShowStartupScreen();
    const auto untouched = [this](int page, int first, int count) {
        EXPECT_EQ(Columns(page, first, count), Bytes(count, 0xA5)) << "page " << page << " from column " << first;
    };
    untouched(0, 0, 128);
    untouched(5, 0, 128);
    for (int page = 1; page <= 4; ++page) {
        untouched(page, 0, 32);
        untouched(page, 96, 32);
    }
    for (int page : {6, 7}) {
        untouched(page, 36, 6);
        untouched(page, 120, 8);
    }
}

// The start-up screen drawn in the middle of a block leaves the frames after
// it to be read and carried out where they lie.
TEST(StartupScreenInABlock, SetupDisplayInTheMiddleOfABlockLetsTheBlockFinish)
{
    EngineFixture f;
    const FrameContent frames[] = {{kSetupDisplay, {0x80}}, {kWriteArray, {0, 0, 0x42}}, {kBlankArea, {0x3F}}};
    EXPECT_EQ(f.Exchange(EncodeBlock(frames)), (Bytes{0x05, 0x01, 0x00, 0x07}));
    EXPECT_EQ(f.runs.runs.size(), 8u + 1u + 2u) << "start-up screen, the array, the page clear";
    EXPECT_EQ(f.display().Column(0, 0), 0x42);
    EXPECT_EQ(Columns(f.display(), 7, 0, 128), Bytes(128, 0x00));
}

} // namespace
} // namespace quillon::testing
