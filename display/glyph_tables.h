#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quillon {

// Every table holds column bytes in display-memory order: one byte per column
// of one page, bit 0 the top row, a set bit a dark pixel.

inline constexpr std::size_t kGlyphWidth = 5;
inline constexpr std::size_t kWideIconWidth = 25;
inline constexpr std::size_t kNarrowIconWidth = 12;
inline constexpr std::uint8_t kWideIconCount = 30;
inline constexpr std::uint8_t kNarrowIconCount = 12;
inline constexpr std::size_t kLogoColumns = 64;
inline constexpr std::size_t kLogoPages = 4;

// Glyphs of the character codes 1 to 126, five columns each; bit 7 is always
// clear so the eighth row of a character cell stays blank.
extern const std::array<std::uint8_t, 126 * kGlyphWidth> Font5x7;
// Icons 0 to 29, 25 columns each, one page high.
extern const std::array<std::uint8_t, kWideIconCount * kWideIconWidth> IconTable25;
// Icons 30 to 41, 12 columns each, one page high.
extern const std::array<std::uint8_t, kNarrowIconCount * kNarrowIconWidth> IconTable12;
// The 64 x 32 start-up picture as four page strips of 64 columns, top first.
extern const std::array<std::uint8_t, kLogoPages * kLogoColumns> StartupLogo;

using GlyphColumns = std::span<const std::uint8_t, kGlyphWidth>;

struct TextGlyph {
    GlyphColumns columns;
    bool inverse;
};

// The glyph of one text byte: bit 7 asks for inverse video, codes 0 and 127
// have no glyph of their own and show as a question mark.
TextGlyph LookUpGlyph(std::uint8_t textByte);

// The glyph of the decimal digit 0 to 9.
GlyphColumns DigitGlyph(std::uint8_t digit);

// The column bytes of an icon, 25 or 12 of them; empty for icon numbers 42
// and above, which do not exist.
std::span<const std::uint8_t> IconColumns(std::uint8_t iconNumber);

// Page strip 0 to 3 of the start-up picture.
std::span<const std::uint8_t, kLogoColumns> LogoStrip(std::size_t strip);

} // namespace quillon
