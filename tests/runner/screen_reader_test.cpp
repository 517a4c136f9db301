#include "display/screen_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/display_controller.h"
#include "display/text_sizes.h"
#include "protocol/protocol.h"

namespace quillon::testing {
namespace {

std::uint8_t Attribute(std::uint8_t page, std::uint8_t size, bool inverse)
{
    return static_cast<std::uint8_t>(page | size << 3 | (inverse ? 0x40 : 0));
}

// Every glyph the font has except the space, which reads only between others.
std::string EveryGlyph()
{
    std::string codes;
    for (int code = 1; code <= 126; ++code) {
        if (code != ' ') {
            codes.push_back(static_cast<char>(code));
        }
    }
    return codes;
}

// The one code with the same pixels as a lower one reads as that one.
std::string AsRead(std::string text)
{
    for (char& c : text) {
        c = c == 16 ? 13 : c;
    }
    return text;
}

TEST(ScreenReader, EveryGlyphInEverySizeNormalAndInverseAtOddColumnsAndAcrossPages)
{
    const std::string glyphs = EveryGlyph();
    for (const std::uint8_t size : {0, 1, 3, 4, 5}) {
        const std::size_t perLine = kTextSizes[size].lineLimit;
        for (const bool inverse : {false, true}) {
            // Page 5: the taller bands run off the bottom and go on at the top.
            for (const std::uint8_t column : {1, 3}) {
                for (std::size_t first = 0; first < glyphs.size(); first += perLine) {
                    const std::string text = glyphs.substr(first, perLine);
                    SCOPED_TRACE(::testing::Message() << "size " << int(size) << (inverse ? " inverse" : "")
                                                      << " column " << int(column) << " from code " << int(text[0]));
                    DisplayController controller;
                    controller.PutString(text, Attribute(5, size, inverse), column, true);
                    const auto runs = ReadScreenText(controller.memory());
                    ASSERT_EQ(runs.size(), 1u);
                    EXPECT_EQ(runs[0].text, AsRead(text));
                    EXPECT_EQ(runs[0].size, size);
                    EXPECT_EQ(runs[0].page, 5);
                    EXPECT_EQ(runs[0].column, column);
                    EXPECT_EQ(runs[0].inverse, std::vector<bool>(text.size(), inverse));
                }
            }
        }
    }
}

TEST(ScreenReader, SeveralTextsOnOneScreenWithSpacesBetweenWordsAndInverseCharacters)
{
    DisplayController controller;
    controller.PutString("MAIN MENU", Attribute(0, 0, false), 37, true);
    controller.PutString(" Set point   42", Attribute(2, 0, true), 1, false);
    controller.PutString("A\xC2"
                         "C",
                         Attribute(4, 0, false), 9, false); // bit 7: B inverse alone
    controller.PutString("42", Attribute(5, 3, false), 60, false);

    const auto runs = ReadScreenText(controller.memory());
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].text, "MAIN MENU");
    EXPECT_EQ(runs[0].column, 37);
    EXPECT_EQ(runs[1].text, " Set point   42");
    EXPECT_TRUE(runs[1].AllInverse());
    EXPECT_EQ(runs[2].text, "ABC");
    EXPECT_EQ(runs[2].inverse, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(runs[3].text, "42");
    EXPECT_EQ(runs[3].size, 3);

    EXPECT_TRUE(FindText(runs, "MAIN MENU"));
    EXPECT_TRUE(FindText(runs, "point", true));
    EXPECT_FALSE(FindText(runs, "MENU", true));
    EXPECT_FALSE(FindText(runs, "MAIN  MENU"));
    EXPECT_TRUE(FindText(runs, "B", true));
    EXPECT_FALSE(FindText(runs, "AB", true));
}

TEST(ScreenReader, APartlyOverwrittenOrBlurredCellIsNotRead)
{
    DisplayController controller;
    controller.PutString("HELLO", Attribute(3, 0, false), 10, true);
    // One pixel more in the second letter: exact reading refuses it.
    std::vector<std::uint8_t> frame = EncodeFrame(kWriteArray, std::vector<std::uint8_t>{17, 3, 0xFF});
    ASSERT_EQ(DisplayController::ValidateFrame(frame), 0);
    controller.ExecuteFrame(frame);
    const auto runs = ReadScreenText(controller.memory());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].text, "H");
    EXPECT_EQ(runs[1].text, "LLO");
}

TEST(ScreenReader, PanelCharactersAndUtf8BothWays)
{
    const std::string panel{'4', '2', '\x0B', 'C', ' ', '\x06', '\x07'};
    EXPECT_EQ(PanelTextToUtf8(panel), "42\u00B0C \u2191\u2193");
    EXPECT_EQ(Utf8ToPanelText("42\u00B0C \u2191\u2193"), panel);
    for (int code = 1; code <= 126; ++code) {
        const std::string one(1, static_cast<char>(code));
        EXPECT_EQ(Utf8ToPanelText(PanelTextToUtf8(one)), one) << "code " << code;
    }
    EXPECT_FALSE(Utf8ToPanelText("\u20AC"));
    EXPECT_EQ(PanelTextToUtf8(std::string(1, '\x7F')), "?");
}

} // namespace
} // namespace quillon::testing
