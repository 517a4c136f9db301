#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

// A picture of palette entries, as the runner writes them: screenshots and
// diff pictures need a handful of colours.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<Rgb> palette;
    // Row by row, one palette index per pixel.
    std::vector<std::uint8_t> pixels;
};

// A picture as read: 8-bit red, green, blue and alpha per pixel, row by row.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

// The PNG file of an indexed picture (8-bit RGB).
std::string EncodePng(const IndexedImage& image);

// Reads a PNG of any colour type (grey, RGB, palette, grey with alpha, RGBA),
// bit depth and interlacing. Nothing, with the reason, for a file that is not
// a PNG, is damaged or is larger than 4096 x 4096.
std::optional<RgbaImage> DecodePng(std::string_view file, std::string& error);

} // namespace quillon
