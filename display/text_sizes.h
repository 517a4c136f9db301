#pragma once

#include <array>
#include <cstdint>

namespace quillon {

// What each text size code (bits 3-5 of a text attribute) draws: columns per
// glyph column, pages of the text band and the characters one line holds.
// Codes 2, 6 and 7 are not sizes and draw nothing.
struct TextSize {
    std::uint8_t scaleX;
    std::uint8_t bandPages;
    std::uint8_t lineLimit;
};

inline constexpr std::array<TextSize, 8> kTextSizes{{
    {1, 1, 21},
    {1, 2, 21},
    {0, 0, 0},
    {3, 3, 7},
    {4, 4, 5},
    {5, 6, 4},
    {0, 0, 0},
    {0, 0, 0},
}};

inline constexpr std::uint8_t TextSizeCode(std::uint8_t attribute)
{
    return (attribute >> 3) & 0x07;
}

} // namespace quillon
