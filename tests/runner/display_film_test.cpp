#include "host/display_film.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "host/picture.h"
#include "tests/support/fakes.h"
#include "tests/support/gif_reader.h"

namespace quillon::runner {
namespace {

using testing::Bytes;
using testing::Gif;
using testing::GifReader;

// A panel host on a hand-driven clock, filmed from its start.
class FilmTest : public ::testing::Test {
protected:
    FilmTest()
    {
        host_.engine().SetLinkEnabled(true);
        std::string error;
        EXPECT_TRUE(film_.Open(path_, clock_.NowMicros(), error)) << error;
        film_.Follow(host_, clock_);
    }
    ~FilmTest() override { std::filesystem::remove(path_); }

    // One block with a Write Array frame, executed at the clock's time.
    void Draw(int column, int page, const Bytes& columns)
    {
        Bytes data{static_cast<std::uint8_t>(column), static_cast<std::uint8_t>(page)};
        data.insert(data.end(), columns.begin(), columns.end());
        port_.Feed(testing::Frame(kWriteArray, data));
        while (host_.engine().receiver().ReceivePass() == ReceiveResult::ByteHandled) {
        }
        host_.Step(true);
    }
    std::vector<std::uint8_t> Display()
    {
        return Screenshot(Bitmap(host_.engine().display()), DisplayFilm::kScale).pixels;
    }
    Gif Finish()
    {
        EXPECT_TRUE(film_.Finish(clock_.NowMicros()));
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return GifReader(bytes.str()).Read();
    }

    const std::string path_ = (std::filesystem::temp_directory_path() /
                               (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".gif"))
                                  .string();
    testing::QueuePort port_;
    testing::ManualClock clock_;
    PanelHost host_{port_, clock_};
    DisplayFilm film_{host_.engine().display()};
};

TEST_F(FilmTest, ChangesCloserThan20MsMakeOneFrameShowingTheLast)
{
    struct Change {
        std::uint32_t atMs;
        int column;
        int page;
        Bytes columns;
    };
    // Times from the film's start.
    const std::vector<Change> changes{
        {5, 0, 0, {0xFF, 0xFF}},    // the first frame's window: it shows this
        {100, 40, 3, {0x0F, 0xF0}}, // frame 2 starts
        {110, 60, 7, {0x81}},       // within frame 2's 20 ms
        {115, 40, 3, {0x00, 0x3C}}, // the last of frame 2's window
        {300, 10, 2, {0x18}},       // frame 3: two pixels
        {600, 10, 2, {0x18}},       // the same bytes again: no frame
    };
    // The change whose display each frame shows, and its delay.
    const std::vector<std::pair<std::size_t, int>> expected{{0, 10}, {3, 20}, {4, 93}};

    std::vector<std::vector<std::uint8_t>> shown;
    std::uint32_t now = 0;
    for (const Change& change : changes) {
        clock_.Advance(change.atMs - now);
        now = change.atMs;
        Draw(change.column, change.page, change.columns);
        shown.push_back(Display());
    }
    clock_.AdvanceMicros(1'234'567 - std::uint64_t{now} * 1000);
    const Gif gif = Finish();

    EXPECT_EQ(gif.width, 256);
    EXPECT_EQ(gif.height, 128);
    const auto colours = Screenshot(Bitmap(), 1).palette;
    ASSERT_EQ(gif.palette.size(), colours.size());
    for (std::size_t i = 0; i < colours.size(); ++i) {
        EXPECT_EQ(std::tie(gif.palette[i].red, gif.palette[i].green, gif.palette[i].blue),
                  std::tie(colours[i].red, colours[i].green, colours[i].blue));
    }
    EXPECT_TRUE(gif.loops);
    ASSERT_EQ(gif.frames.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(gif.frames[i].canvas == shown[expected[i].first]) << "frame " << i;
        EXPECT_EQ(gif.frames[i].delayCs, expected[i].second) << "frame " << i;
    }
    EXPECT_EQ(std::tie(gif.frames[0].left, gif.frames[0].top, gif.frames[0].width, gif.frames[0].height),
              std::tuple(0, 0, 256, 128));
    // Rows 19 and 20 of column 10, twice the size.
    EXPECT_EQ(std::tie(gif.frames[2].left, gif.frames[2].top, gif.frames[2].width, gif.frames[2].height),
              std::tuple(20, 38, 2, 4));
}

TEST_F(FilmTest, DelaysKeepTheRunsPaceOverManyFramesAndLongStills)
{
    // 33.3 ms a frame rounds to 3 hundredths each time unless what is
    // rounded off is carried; then a still longer than one GIF delay holds.
    for (int i = 0; i < 60; ++i) {
        clock_.AdvanceMicros(33'300);
        Draw(i, i % 8, {static_cast<std::uint8_t>(i + 1)});
    }
    clock_.Advance(700'000);
    Draw(0, 0, {0x55});
    clock_.Advance(1'000);
    const std::vector<std::uint8_t> last = Display();
    const Gif gif = Finish();

    int totalCs = 0;
    for (std::size_t i = 0; i < gif.frames.size(); ++i) {
        EXPECT_GE(gif.frames[i].delayCs, 2) << "frame " << i;
        totalCs += gif.frames[i].delayCs;
    }
    const std::uint64_t elapsedUs = 60 * 33'300 + 701'000'000;
    EXPECT_LE(std::abs(static_cast<long long>(totalCs) * 10'000 - static_cast<long long>(elapsedUs)), 10'000)
        << totalCs;
    ASSERT_FALSE(gif.frames.empty());
    EXPECT_TRUE(gif.frames.back().canvas == last);
}

TEST(DisplayFilmTest, AFilmThatCannotBeWrittenIsRefusedWithThePathAndTheReason)
{
    const DisplayMemory memory;
    const std::string notAFolder = (std::filesystem::temp_directory_path() / "film_test_not_a_folder").string();
    std::ofstream(notAFolder).put('x');
    std::vector<std::string> paths{notAFolder + "/film.gif"};
#ifndef _WIN32
    // The disk is full as the film starts.
    paths.emplace_back("/dev/full");
#endif
    for (const std::string& path : paths) {
        DisplayFilm film(memory);
        std::string error;
        EXPECT_FALSE(film.Open(path, 0, error));
        EXPECT_EQ(error.rfind("cannot write " + path + ": ", 0), 0U) << error;
        EXPECT_GT(error.size(), ("cannot write " + path + ": ").size()) << error;
        EXPECT_FALSE(film.recording());
        EXPECT_TRUE(film.Finish(0)) << "nothing to finish";
    }
    std::filesystem::remove(notAFolder);
}

} // namespace
} // namespace quillon::runner
