#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "display/glyph_tables.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Fnv1a(std::span<const std::uint8_t> bytes)
{
    std::uint32_t hash = 0x811C9DC5;
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * 0x01000193;
    }
    return hash;
}

Bytes Glyph(std::uint8_t code)
{
    return {Font5x7.begin() + (code - 1) * 5, Font5x7.begin() + code * 5};
}

// The tables are transcribed column byte by column byte; a hash of each
// catches a single wrong digit anywhere, the spot checks say where to look.
TEST(GlyphTablesTest, TablesHoldTheirPublishedBytes)
{
    EXPECT_EQ(Fnv1a(Font5x7), 0x48EEEDD0u);
    EXPECT_EQ(Fnv1a(IconTable25), 0x3D279DA7u);
    EXPECT_EQ(Fnv1a(IconTable12), 0x653EFE88u);
}

TEST(GlyphTablesTest, SpotChecksOfTheFont)
{
    const std::pair<std::uint8_t, Bytes> cases[] = {
        {1, {0x38, 0x46, 0x45, 0x45, 0x38}},   {31, {0x38, 0x64, 0x54, 0x4C, 0x38}},
        {32, {0x00, 0x00, 0x00, 0x00, 0x00}},  {48, {0x3E, 0x51, 0x49, 0x45, 0x3E}},
        {63, {0x02, 0x01, 0x51, 0x09, 0x06}},  {65, {0x7E, 0x11, 0x11, 0x11, 0x7E}},
        {92, {0x02, 0x04, 0x08, 0x10, 0x20}},  {103, {0x18, 0x54, 0x54, 0x54, 0x38}},
        {126, {0x10, 0x08, 0x18, 0x10, 0x08}},
    };
    for (const auto& [code, bytes] : cases) {
        EXPECT_EQ(Glyph(code), bytes) << "code " << int(code);
    }
    EXPECT_EQ(Glyph(13), Glyph(16));
}

TEST(GlyphTablesTest, NoGlyphUsesTheEighthRow)
{
    for (std::size_t i = 0; i < Font5x7.size(); ++i) {
        EXPECT_EQ(Font5x7[i] & 0x80, 0) << "code " << i / 5 + 1 << " column " << i % 5;
    }
}

TEST(GlyphTablesTest, TextByteLookUp)
{
    struct Case {
        std::uint8_t textByte;
        std::uint8_t code;
        bool inverse;
    };
    const Case cases[] = {
        {0x41, 65, false}, {0xC1, 65, true}, {0x00, 63, false},  {0x7F, 63, false}, {0x80, 63, true},
        {0xFF, 63, true},  {0x01, 1, false}, {0x7E, 126, false}, {0x9F, 31, true},
    };
    for (const Case& c : cases) {
        const TextGlyph glyph = LookUpGlyph(c.textByte);
        EXPECT_EQ(Bytes(glyph.columns.begin(), glyph.columns.end()), Glyph(c.code)) << "byte " << int(c.textByte);
        EXPECT_EQ(glyph.inverse, c.inverse) << "byte " << int(c.textByte);
    }
}

TEST(GlyphTablesTest, DigitsAreTheFontsDigitGlyphs)
{
    for (std::uint8_t digit = 0; digit <= 9; ++digit) {
        const GlyphColumns glyph = DigitGlyph(digit);
        EXPECT_EQ(Bytes(glyph.begin(), glyph.end()), Glyph(static_cast<std::uint8_t>('0' + digit)));
    }
}

TEST(GlyphTablesTest, IconNumbersSelectTheTableAndWidth)
{
    EXPECT_EQ(Bytes(IconColumns(0).begin(), IconColumns(0).end()), Bytes(25, 0x00));
    EXPECT_EQ(IconColumns(29).size(), 25u);
    EXPECT_EQ(IconColumns(29).front(), 0x3E);
    EXPECT_EQ(IconColumns(29)[24], 0x00);
    EXPECT_EQ(IconColumns(30).size(), 12u);
    EXPECT_EQ(IconColumns(30)[1], 0x48);
    EXPECT_EQ(IconColumns(41).size(), 12u);
    EXPECT_EQ(IconColumns(41)[4], 0x7E);
    EXPECT_TRUE(IconColumns(42).empty());
    EXPECT_TRUE(IconColumns(255).empty());
}

TEST(GlyphTablesTest, LogoIsAPictureOnEveryStrip)
{
    for (std::size_t strip = 0; strip < kLogoPages; ++strip) {
        const auto bytes = LogoStrip(strip);
        EXPECT_TRUE(std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; })) << strip;
        EXPECT_EQ(bytes.data(), StartupLogo.data() + strip * kLogoColumns);
    }
}

} // namespace
} // namespace quillon
