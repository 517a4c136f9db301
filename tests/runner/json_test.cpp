#include "host/json.h"

#include <gtest/gtest.h>

namespace quillon::runner {
namespace {

TEST(Json, ValidTextsParseAndDumpCompactly)
{
    const struct {
        const char* text;
        const char* dumped;
    } cases[] = {
        {R"( {"cmd" : "text", "id": 7} )", R"({"cmd":"text","id":7})"},
        {R"([1, -2.5, 1e3, true, false, null])", R"([1,-2.5,1000,true,false,null])"},
        {R"("a\"b\\c\n\u00b0\ud83d\ude00")", "\"a\\\"b\\\\c\\n\u00b0\U0001F600\""},
        {R"({"nested": {"list": [[], {}]}})", R"({"nested":{"list":[[],{}]}})"},
        {"\"\\u0001\"", "\"\\u0001\""},
        // Corners of the library: DEL is written as itself, and a name given
        // twice keeps the last value.
        {"\"\\u007f\"", "\"\x7f\""},
        {R"({"cmd": "text", "cmd": "status"})", R"({"cmd":"status"})"},
        {"-0.0", "0"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto json = ParseJson(c.text, error);
        ASSERT_TRUE(json) << c.text << ": " << error;
        EXPECT_EQ(DumpJson(*json), c.dumped);
    }
}

TEST(Json, NumbersAreWrittenWholeOrAsShortAsTheyReadBack)
{
    EXPECT_EQ(DumpJson({JsonNumber(212.0), JsonNumber(731.4), JsonNumber(0.125), JsonNumber(-3.0), JsonNumber(1e20)}),
              "[212,731.4,0.125,-3,1e+20]");
    // Bytes that are not UTF-8 never make a reply that is not JSON.
    EXPECT_EQ(DumpJson(std::string("a\xff")), "\"a\xEF\xBF\xBD\"");
}

TEST(Json, InvalidTextsAreRefusedWithTheReasonAndOffset)
{
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"this is not JSON", "not a JSON value at byte 0"},
        {R"({"cmd": "text",})", "an object member lacks its name"},
        {R"({"cmd" "text"})", "lacks ':'"},
        {R"(["open")", "lacks ',' or ']'"},
        {"\"cut", "a string is not closed"},
        {"\"tab\there\"", "a control character inside a string"},
        {R"("\ud800")", "a lone surrogate"},
        {"01", "unexpected text after the value at byte 1"},
        {"1.", "lacks digits"},
        {"1e999", "out of range"},
        {std::string(100, '[') + std::string(100, ']'), "nested too deeply"},
        {"", "a value is missing"},
        {"\"\xff\"", "a string is not UTF-8"},
        {R"("\u12x4")", "not hex"},
        {R"("\q")", "an unknown escape"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseJson(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " gave: " << error;
    }
}

TEST(Json, Base64OfEveryPaddingLength)
{
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64("\x89PNG"), "iVBORw==");
}

} // namespace
} // namespace quillon::runner
