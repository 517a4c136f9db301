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

namespace quillon::runner {
namespace {

using testing::Bytes;

struct GifFrame {
    int delayCs = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    // The whole picture once this frame is drawn, a palette index a pixel.
    std::vector<std::uint8_t> canvas;
};

struct Gif {
    int width = 0;
    int height = 0;
    std::vector<Rgb> palette;
    bool loops = false;
    std::vector<GifFrame> frames;
};

// Decodes GIF image data; throws on a code that cannot be.
std::vector<std::uint8_t> Unlzw(const std::string& data, int minCodeSize)
{
    const int clear = 1 << minCodeSize;
    std::vector<std::vector<std::uint8_t>> table;
    int size = 0;
    const auto reset = [&] {
        table.assign(static_cast<std::size_t>(clear + 2), {});
        for (int i = 0; i < clear; ++i) {
            table[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i)};
        }
        size = minCodeSize + 1;
    };
    reset();
    std::vector<std::uint8_t> out;
    std::size_t bit = 0;
    int previous = -1;
    for (;;) {
        if (bit + static_cast<std::size_t>(size) > data.size() * 8) {
            throw std::runtime_error("no end code");
        }
        int code = 0;
        for (int i = 0; i < size; ++i, ++bit) {
            code |= ((static_cast<std::uint8_t>(data[bit / 8]) >> (bit % 8)) & 1) << i;
        }
        if (code == clear) {
            reset();
            previous = -1;
            continue;
        }
        if (code == clear + 1) {
            return out;
        }
        std::vector<std::uint8_t> entry;
        if (code < static_cast<int>(table.size()) && (code < clear || code > clear + 1)) {
            entry = table[static_cast<std::size_t>(code)];
        } else if (code == static_cast<int>(table.size()) && previous >= 0) {
            entry = table[static_cast<std::size_t>(previous)];
            entry.push_back(entry.front());
        } else {
            throw std::runtime_error("code " + std::to_string(code) + " not in the table");
        }
        if (previous >= 0 && table.size() < 4096) {
            auto added = table[static_cast<std::size_t>(previous)];
            added.push_back(entry.front());
            table.push_back(std::move(added));
            if (table.size() == (std::size_t{1} << size) && size < 12) {
                ++size;
            }
        }
        out.insert(out.end(), entry.begin(), entry.end());
        previous = code;
    }
}

// Reads GIF data as a viewer would; throws on anything it does not expect.
class GifReader {
public:
    explicit GifReader(std::string bytes) : bytes_(std::move(bytes)) {}

    Gif Read()
    {
        if (bytes_.compare(0, 6, "GIF89a") != 0) {
            throw std::runtime_error("no GIF89a signature");
        }
        at_ = 6;
        Gif gif;
        gif.width = Word();
        gif.height = Word();
        const int flags = Byte();
        Byte();
        Byte();
        if ((flags & 0x80) == 0) {
            throw std::runtime_error("no global colour table");
        }
        for (int i = 0; i < (2 << (flags & 7)); ++i) {
            const auto red = static_cast<std::uint8_t>(Byte());
            const auto green = static_cast<std::uint8_t>(Byte());
            gif.palette.push_back({red, green, static_cast<std::uint8_t>(Byte())});
        }
        std::vector<std::uint8_t> canvas(static_cast<std::size_t>(gif.width * gif.height), 0);
        int delayCs = -1;
        for (;;) {
            const int block = Byte();
            if (block == 0x3B) {
                return gif;
            }
            if (block == 0x21) {
                const int label = Byte();
                const std::string data = Blocks();
                if (label == 0xF9) {
                    delayCs = static_cast<std::uint8_t>(data.at(1)) | static_cast<std::uint8_t>(data.at(2)) << 8;
                } else if (label == 0xFF && data.compare(0, 11, "NETSCAPE2.0") == 0) {
                    gif.loops = data.at(12) == 0 && data.at(13) == 0;
                }
                continue;
            }
            if (block != 0x2C || delayCs < 0) {
                throw std::runtime_error("expected an image after its graphic control");
            }
            GifFrame frame{delayCs, Word(), Word(), Word(), Word(), {}};
            delayCs = -1;
            if (Byte() != 0 || frame.left + frame.width > gif.width || frame.top + frame.height > gif.height) {
                throw std::runtime_error("an image outside the screen or with its own colours");
            }
            const int minCodeSize = Byte();
            const auto pixels = Unlzw(Blocks(), minCodeSize);
            if (pixels.size() != static_cast<std::size_t>(frame.width * frame.height)) {
                throw std::runtime_error("wrong number of pixels");
            }
            for (int y = 0; y < frame.height; ++y) {
                for (int x = 0; x < frame.width; ++x) {
                    canvas[static_cast<std::size_t>((frame.top + y) * gif.width + frame.left + x)] =
                        pixels[static_cast<std::size_t>(y * frame.width + x)];
                }
            }
            frame.canvas = canvas;
            gif.frames.push_back(std::move(frame));
        }
    }

private:
    int Byte()
    {
        if (at_ >= bytes_.size()) {
            throw std::runtime_error("the file ends early");
        }
        return static_cast<std::uint8_t>(bytes_[at_++]);
    }
    int Word()
    {
        const int low = Byte();
        return low | Byte() << 8;
    }
    std::string Blocks()
    {
        std::string data;
        while (const int length = Byte()) {
            for (int i = 0; i < length; ++i) {
                data += static_cast<char>(Byte());
            }
        }
        return data;
    }

    std::string bytes_;
    std::size_t at_ = 0;
};

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

TEST(GifLzw, PicturesReadBackThroughTheCodesWideningAndTheTableStartingAgain)
{
    std::uint32_t seed = 99;
    std::vector<std::uint8_t> noise(200'000);
    for (std::uint8_t& index : noise) {
        seed = seed * 1103515245 + 12345;
        index = (seed >> 16) & 1;
    }
    const std::vector<std::vector<std::uint8_t>> pictures{
        {1},
        {0, 1},
        std::vector<std::uint8_t>(5'000, 1),
        // The third code, the last, is the one the reader makes its eighth
        // entry for: the end code after it is 4 bits wide.
        {0, 0, 0, 0, 0, 0},
        {0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 3, 3, 3},
        noise,
    };
    for (const auto& picture : pictures) {
        EXPECT_EQ(Unlzw(GifLzw(picture), 2), picture) << picture.size() << " indices";
    }
}

} // namespace
} // namespace quillon::runner
