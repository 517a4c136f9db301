#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "trace/frame_decoder.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct FrameCase {
    Bytes frame;
    std::string meaning;
    std::string faults;
};

Bytes Frame(std::uint8_t code, const Bytes& data, bool last = true)
{
    return EncodeFrame(code, data, last);
}

template <std::size_t N> Bytes ToBytes(const std::array<std::uint8_t, N>& array)
{
    return Bytes(array.begin(), array.end());
}

Bytes WithChecksum(Bytes frame, std::uint8_t checksum)
{
    frame.back() = checksum;
    return frame;
}

TEST(FrameDecoder, TellsEveryFunctionCodeAndFault)
{
    const std::vector<FrameCase> cases{
        {Frame(kWriteString, {0x84, 0x4B, 'M', 'E', 'N', 'U'}),
         "WRITE STRING size 1, page 3, column 4, inverse, band cleared first: \"MENU\" (last of block)", ""},
        {Frame(kWriteString, {0x00, 0x10, '"', 0xC1}, false),
         "WRITE STRING size code 2 (draws nothing), page 0, column 0: \"\\\"\\xC1\"", ""},
        // The panel's own characters as the screen shows them; a byte
        // outside its set as an escape.
        {Frame(kWriteString, {0, 0x08, '4', '2', 0x0B, 'C', ' ', 0x06, 0x07, 0x00, 0x7F}),
         "WRITE STRING size 1, page 0, column 0: \"42\u00B0C \u2191\u2193\\x00\\x7F\" (last of block)", ""},
        {Frame(kWriteFrameHeader, {0x01, 'K', '\\'}), "WRITE FRAME HEADER \"\u00F3K\\\\\" (last of block)", ""},
        {Frame(kWriteArray, {10, 2, 0xFF, 0x81, 0xFF}), "WRITE ARRAY page 2, column 10, 3 column bytes (last of block)",
         ""},
        {Frame(kSetupDisplay, {0x80}), "SETUP DISPLAY 0x80: start-up screen (last of block)", ""},
        {Frame(kBlankArea, {0x38}), "BLANK AREA pages 0-7, columns 0-127 (last of block)", ""},
        {Frame(kBlankArea, {0x0A}), "BLANK AREA page range 0x0A (refused) (last of block)", ""},
        {Frame(kReadSwitches, {0}), "READ SWITCHES (last of block)", ""},
        {Frame(kSetContrast, {40}), "SET CONTRAST 40 (last of block)", ""},
        {Frame(kDrawSliderBar, {42, 3, 1, 2, 3, 4, 5, 6}),
         "DRAW SLIDER BAR number 42, slider at page 3 and the page below (last of block)", ""},
        {Frame(kDrawSliderBar, {120, 2, 1, 2, 3}),
         "DRAW SLIDER BAR number 120 (over 99: no digits), slider at page 2 (last of block)", ""},
        {Frame(kWriteFrameHeader, {'S', 'E', 'T'}), "WRITE FRAME HEADER \"SET\" (last of block)", ""},
        {Frame(kDrawAndRepeat, {0, 7, 3, 0x55, 0xAA}),
         "DRAW AND REPEAT page 7, column 0, 2 pattern bytes x 4 (last of block)", ""},
        {Frame(kDrawIcon, {20, 1, 31}), "DRAW ICON 31 at page 1, column 20 (last of block)", ""},
        {Frame(kSetContrastAndReplyMode, {32, 0xFF, 0xFF}),
         "SET CONTRAST AND REPLY MODE contrast 32, single-byte replies (last of block)", ""},
        {Frame(kSetContrastAndReplyMode, {32, 0x01, 0x00}),
         "SET CONTRAST AND REPLY MODE contrast 32, framed replies (last of block)", ""},
        {WithChecksum(Frame(kReadSwitches, {0}), 0x12), "READ SWITCHES (last of block)",
         "checksum 0x12, expected 0x87"},
        {Frame(kDrawIcon, {20, 1}), "DRAW ICON 0 at page 1, column 20 (last of block)",
         "length 2 not allowed for DRAW ICON (3)"},
        {Frame(kWriteString, {0, 0}), "WRITE STRING size 0, page 0, column 0: \"\" (last of block)",
         "length 2 not allowed for WRITE STRING (3 to 23)"},
        {Frame(12, {1}), "function code 12 (last of block)", "unknown function code 12"},
        {Frame(kWritePreDefStr, {1}), "WRITE PRE DEF STR (last of block)", "WRITE PRE DEF STR is not supported"},
        {WithChecksum(Frame(13, {}), 0), "function code 13 (last of block)",
         "checksum 0x00, expected 0x8E, unknown function code 13"},
    };
    for (const FrameCase& c : cases) {
        EXPECT_EQ(DescribeFrame(c.frame), c.meaning) << HexBytes(c.frame);
        EXPECT_EQ(DescribeFrameFaults(c.frame), c.faults) << HexBytes(c.frame);
    }
}

TEST(FrameDecoder, TellsEveryReplyFormWithItsErrorsAndKey)
{
    const std::vector<std::pair<Bytes, std::string>> cases{
        {ToBytes(ShortStatusFrame(0x40)), "short status 0x40: no error, key UP"},
        {ToBytes(ShortStatusFrame(0x89)), "short status 0x89: checksum and frame error, key DOWN"},
        {ToBytes(LongStatusFrame(0x28)), "long status 0x28: frame error, key LEFT"},
        {Bytes{0x11}, "single-byte status 0x11: checksum error, key RIGHT"},
        {ToBytes(kSynchRequest), "synchronisation request"},
    };
    for (const auto& [reply, meaning] : cases) {
        EXPECT_EQ(DescribeReply(reply), meaning);
    }
}

TEST(FrameDecoder, TellsReceiveErrors)
{
    EXPECT_EQ(DescribeRxErrors(kRxOverflow), "overflow: more than 120 bytes in one block");
    EXPECT_EQ(DescribeRxErrors(kRxBadFunctionCode | kRxByteDuringCompleteBlock),
              "bad function code, byte during a complete block");
    EXPECT_EQ(DescribeRxErrors(kRxBadLength), "bad length: more than 117 data bytes");
}

} // namespace
} // namespace quillon
