#include "host/picture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <zlib.h>

#include "display/display_controller.h"
#include "host/png.h"

namespace quillon::runner {
namespace {

// A PNG file from its header fields and the filtered rows, as another program
// would write it.
std::string MakePng(int width, int height, int depth, int colourType, const std::string& rows, int interlace = 0,
                    const std::string& palette = {})
{
    const auto big = [](std::uint32_t value) {
        return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        return big(static_cast<std::uint32_t>(data.size())) + body +
               big(static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
    };
    uLongf size = compressBound(static_cast<uLong>(rows.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(rows.data()),
             static_cast<uLong>(rows.size()));
    packed.resize(size);
    std::string header = big(static_cast<std::uint32_t>(width)) + big(static_cast<std::uint32_t>(height));
    header += std::string{static_cast<char>(depth), static_cast<char>(colourType), 0, 0, static_cast<char>(interlace)};
    std::string file = std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header);
    if (!palette.empty()) {
        file += chunk("PLTE", palette);
    }
    return file + chunk("IDAT", packed) + chunk("IEND", "");
}

std::vector<std::uint8_t> Rgba(const RgbaImage& image, int x, int y)
{
    const auto at = image.rgba.begin() + (y * image.width + x) * 4;
    return {at, at + 4};
}

TEST(Png, WrittenPicturesReadBack)
{
    IndexedImage image{3, 2, {{188, 225, 101}, {0, 0, 0}, {220, 20, 20}}, {0, 1, 2, 2, 1, 0}};
    std::string error;
    const auto read = DecodePng(EncodePng(image), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->width, 3);
    EXPECT_EQ(Rgba(*read, 0, 0), (std::vector<std::uint8_t>{188, 225, 101, 255}));
    EXPECT_EQ(Rgba(*read, 2, 0), (std::vector<std::uint8_t>{220, 20, 20, 255}));
    EXPECT_EQ(Rgba(*read, 1, 1), (std::vector<std::uint8_t>{0, 0, 0, 255}));
}

TEST(Png, ColourTypesDepthsAndFiltersOfOtherPrograms)
{
    std::string error;
    // Grey, 1 bit: 1 0 1 on row 0, 0 1 0 on row 1 (filter none).
    auto image = DecodePng(MakePng(3, 2, 1, 0, std::string("\0\xA0\0\x40", 4)), error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgba(*image, 0, 0), (std::vector<std::uint8_t>{255, 255, 255, 255}));
    EXPECT_EQ(Rgba(*image, 1, 0)[0], 0);
    EXPECT_EQ(Rgba(*image, 1, 1)[0], 255);

    // RGB, 8 bits, filter Sub then Up: the second pixel adds the first.
    image = DecodePng(MakePng(2, 2, 8, 2, std::string("\x01\x10\x20\x30\x01\x01\x01\x02\x00\x00\x00\x00\x00\x00", 14)),
                      error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgba(*image, 1, 0), (std::vector<std::uint8_t>{0x11, 0x21, 0x31, 255}));
    EXPECT_EQ(Rgba(*image, 1, 1), (std::vector<std::uint8_t>{0x11, 0x21, 0x31, 255}));

    // Grey and alpha, 16 bits, filter Average and Paeth.
    image = DecodePng(MakePng(1, 2, 16, 4, std::string("\x03\x80\x00\xFF\xFF\x04\x00\x00\x00\x00", 10)), error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgba(*image, 0, 0), (std::vector<std::uint8_t>{0x80, 0x80, 0x80, 0xFF}));
    EXPECT_EQ(Rgba(*image, 0, 1), (std::vector<std::uint8_t>{0x80, 0x80, 0x80, 0xFF}));

    // Palette, 2 bits.
    image = DecodePng(MakePng(2, 1, 2, 3, std::string("\0\x60", 2), 0, std::string("\0\0\0\x10\x20\x30", 6) + "abc"),
                      error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgba(*image, 0, 0), (std::vector<std::uint8_t>{0x10, 0x20, 0x30, 255}));
    EXPECT_EQ(Rgba(*image, 1, 0), (std::vector<std::uint8_t>{'a', 'b', 'c', 255}));

    // Interlaced (read since the reader is stb_image): grey, 8 bits, 2 x 2, in
    // Adam7's passes 1, 6 and 7.
    image = DecodePng(MakePng(2, 2, 8, 0, std::string("\0\x10\0\x20\0\x30\x40", 7), 1), error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgba(*image, 1, 0)[0], 0x20);
    EXPECT_EQ(Rgba(*image, 0, 1)[0], 0x30);
    EXPECT_EQ(Rgba(*image, 1, 1)[0], 0x40);
}

TEST(Png, FilesThatCannotBeReadSaySo)
{
    const std::string good = MakePng(1, 1, 8, 0, std::string("\0\0", 2));
    const struct {
        std::string file;
        const char* reason;
    } cases[] = {
        {"GIF89a", "not a PNG file"},
        {good.substr(0, 40), "cut short"},
        {MakePng(1, 1, 3, 2, std::string("\0\0", 2)), "not a valid combination"},
        {MakePng(1, 1, 8, 3, std::string("\0\0", 2)), "palette is missing"},
        {MakePng(2, 1, 8, 0, std::string("\0\0", 2)), "damaged or of the wrong size"},
        {MakePng(1, 1, 8, 0, std::string("\x09\0", 2)), "unknown filter"},
        {MakePng(5000, 1, 8, 0, std::string("\0\0", 2)), "1 to 4096 pixels"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(DecodePng(c.file, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // The reader does not check chunk CRCs: a damaged header CRC is read; a
    // damaged picture shows in the comparison as differing pixels.
    std::string damaged = good;
    damaged[30] ^= 1;
    std::string error;
    EXPECT_TRUE(DecodePng(damaged, error)) << error;
}

class GoldenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::filesystem::path(::testing::TempDir()) /
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(folder_);
        controller_.PutString("GOLDEN", 0x02, 11, true);
    }
    std::string Path(const char* name) const { return (folder_ / name).string(); }

    std::filesystem::path folder_;
    DisplayController controller_;
};

TEST_F(GoldenTest, PngAndTextArtGoldensRoundTripAndCompare)
{
    const Bitmap screen(controller_.memory());
    for (const char* name : {"g.png", "g.txt"}) {
        std::string error;
        ASSERT_TRUE(SaveGolden(Path(name), screen, error)) << error;
        const auto golden = LoadGolden(Path(name), error);
        ASSERT_TRUE(golden) << error;
        EXPECT_EQ(*golden, screen) << name;
        EXPECT_EQ(Compare(screen, *golden, {}).differing, 0);
    }
    Bitmap changed = screen;
    changed.Set(0, 0, true); // extra ink
    changed.Set(11, 16, !changed.At(11, 16));
    const Comparison all = Compare(changed, screen, {});
    EXPECT_EQ(all.differing, 2);
    EXPECT_EQ(all.diff.width, 4 * kDisplayWidth);
    EXPECT_EQ(all.diff.pixels[0], 3); // blue: ink the golden lacks
    EXPECT_EQ(Compare(changed, screen, {8, 8, 64, 32}).differing, 1);
}

TEST_F(GoldenTest, GoldensOfTheWrongSizeOrContentAreRefused)
{
    std::string error;
    ASSERT_TRUE(WriteFile(Path("small.png"),
                          EncodePng(IndexedImage{64, 32, {{0, 0, 0}}, std::vector<std::uint8_t>(64 * 32)}), error));
    ASSERT_TRUE(WriteFile(Path("wide.txt"), std::string(129, '.') + "\n", error));
    ASSERT_TRUE(WriteFile(Path("short.txt"), std::string(128, '.') + "\n", error));
    ASSERT_TRUE(WriteFile(Path("odd.txt"), "X" + std::string(127, '.') + "\n", error));
    const struct {
        const char* name;
        const char* reason;
    } cases[] = {
        {"small.png", "the picture is 64 x 32; a golden picture is 128 x 64"},
        {"wide.txt", ":1: 129 characters"},
        {"short.txt", ": 1 lines; a golden picture is 128 x 64"},
        {"odd.txt", ":1: column 1 is neither '#'"},
        {"missing.txt", "cannot read"},
        {"picture.bmp", "a .png or a .txt"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(LoadGolden(Path(c.name), error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

} // namespace
} // namespace quillon::runner
