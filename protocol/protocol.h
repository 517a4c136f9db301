#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// The facts of the panel link: frame envelope, function codes, length rules,
// status and error bits, reply forms and the synchronisation request. Every
// other part of the program takes them from here; this header includes
// nothing of ours.
namespace quillon {

// Size of the receive buffer: one block, and so one frame, never exceeds it.
inline constexpr std::size_t kRxBufferSize = 120;
// Longest data part a frame may announce: 117 + code, length and checksum = 120.
inline constexpr std::uint8_t kMaxFrameDataLength = 117;
inline constexpr std::uint8_t kHighestFunctionCode = 14;
inline constexpr std::uint8_t kLastFrameBit = 0x80;
inline constexpr std::uint8_t kFunctionCodeMask = 0x7F;
// Code byte, length byte and checksum byte around a frame's data.
inline constexpr std::size_t kFrameOverhead = 3;

// Status byte: error nibble low, latched key high.
inline constexpr std::uint8_t kStatusChecksumError = 0x01;
inline constexpr std::uint8_t kStatusFrameError = 0x08;
inline constexpr std::uint8_t kStatusErrorMask = 0x0F;
inline constexpr int kStatusKeyShift = 4;
// The status of the reply sent after 10 s without a byte.
inline constexpr std::uint8_t kSilenceStatus = 0x01;

// Receive error bits, raised by the receiver and answered as status bit 0x08.
inline constexpr std::uint8_t kRxOverflow = 0x01;
inline constexpr std::uint8_t kRxBadFunctionCode = 0x02;
inline constexpr std::uint8_t kRxBadLength = 0x04;
inline constexpr std::uint8_t kRxByteDuringCompleteBlock = 0x08;

// Key bits of the status byte's high nibble.
inline constexpr std::uint8_t kKeyRight = 1;
inline constexpr std::uint8_t kKeyLeft = 2;
inline constexpr std::uint8_t kKeyUp = 4;
inline constexpr std::uint8_t kKeyDown = 8;

// replyMode values: the single-byte reply, and the framed one.
inline constexpr std::uint16_t kSingleByteReplyMode = 0xFFFF;
inline constexpr std::uint16_t kFramedReplyMode = 1;

// Function codes of the panel link.
enum FunctionCode : std::uint8_t {
    kWriteString = 1,
    kWriteArray = 2,
    kSetupDisplay = 3,
    kBlankArea = 4,
    kReadSwitches = 5,
    kSetContrast = 6,
    kWritePreDefStr = 7,
    kDrawSliderBar = 8,
    kWriteFrameHeader = 9,
    kDrawAndRepeat = 10,
    kDrawIcon = 11,
    kSetContrastAndReplyMode = 14,
    kSynchRequestCode = 0x32,
};

// The name of a function code (bit 7 ignored), or an empty view for a code
// the panel does not know.
constexpr std::string_view FunctionName(std::uint8_t codeByte)
{
    switch (codeByte & kFunctionCodeMask) {
    case kWriteString:
        return "WRITE STRING";
    case kWriteArray:
        return "WRITE ARRAY";
    case kSetupDisplay:
        return "SETUP DISPLAY";
    case kBlankArea:
        return "BLANK AREA";
    case kReadSwitches:
        return "READ SWITCHES";
    case kSetContrast:
        return "SET CONTRAST";
    case kWritePreDefStr:
        return "WRITE PRE DEF STR";
    case kDrawSliderBar:
        return "DRAW SLIDER BAR";
    case kWriteFrameHeader:
        return "WRITE FRAME HEADER";
    case kDrawAndRepeat:
        return "DRAW AND REPEAT";
    case kDrawIcon:
        return "DRAW ICON";
    case kSetContrastAndReplyMode:
        return "SET CONTRAST AND REPLY MODE";
    default:
        return {};
    }
}

// The receiver accepts a code byte whose code is 1 to 14; which of them the
// panel carries out is the length rules' business.
constexpr bool IsValidFunctionCode(std::uint8_t codeByte)
{
    const std::uint8_t code = codeByte & kFunctionCodeMask;
    return code != 0 && code <= kHighestFunctionCode;
}

// Data bytes each function code may carry. A code whose range is empty is
// never carried out: 0 does not exist, 7 is not supported by the panel and
// 12 and 13 are unassigned.
struct LengthRule {
    std::uint8_t min;
    std::uint8_t max;
};

inline constexpr LengthRule kRejectedCode{1, 0};

inline constexpr std::array<LengthRule, kHighestFunctionCode + 1> kLengthRules{{
    kRejectedCode,            // 0
    {3, 23},                  // WRITE STRING: column, attribute, 1..21 characters
    {3, kMaxFrameDataLength}, // WRITE ARRAY: column, page, column bytes
    {1, 1},                   // SETUP DISPLAY
    {1, 1},                   // BLANK AREA
    {1, 1},                   // READ SWITCHES
    {1, 1},                   // SET CONTRAST
    kRejectedCode,            // WRITE PRE DEF STR
    {5, 8},                   // DRAW SLIDER BAR: number, page, 3 or 6 slider bytes
    {1, 21},                  // WRITE FRAME HEADER
    {4, kMaxFrameDataLength}, // DRAW AND REPEAT: column, page, count, pattern
    {3, 3},                   // DRAW ICON
    kRejectedCode,            // 12
    kRejectedCode,            // 13
    {3, 3},                   // SET CONTRAST AND REPLY MODE
}};

// Whether a frame of this code (bit 7 clear) may carry this many data bytes.
constexpr bool LengthAllowed(std::uint8_t functionCode, std::uint8_t length)
{
    if (functionCode >= kLengthRules.size()) {
        return false;
    }
    const LengthRule rule = kLengthRules[functionCode];
    return length >= rule.min && length <= rule.max;
}

// Checksum of a frame: 1 plus the sum of every byte before it, modulo 256.
// The code byte counts as sent, bit 7 included.
constexpr std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t count)
{
    unsigned sum = 1;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(sum);
}

// The panel's request for the device to synchronise: code 0x32, three data
// bytes, checksum 0x6C.
inline constexpr std::array<std::uint8_t, 6> kSynchRequest{0x32, 0x03, 0x01, 0x15, 0x20, 0x6C};

// Reply to a block: function code 5 with the status byte as its only data.
constexpr std::array<std::uint8_t, 4> ShortStatusFrame(std::uint8_t status)
{
    return {kReadSwitches, 0x01, status, static_cast<std::uint8_t>(status + 7)};
}

// Reply to a block ending in function code 14: the status byte and eight
// zero bytes.
constexpr std::array<std::uint8_t, 12> LongStatusFrame(std::uint8_t status)
{
    return {kSetContrastAndReplyMode, 0x09, status, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(status + 24)};
}

// The status byte a reply carries: the whole of a single-byte reply, the
// first data byte of a status frame.
constexpr std::uint8_t ReplyStatus(std::span<const std::uint8_t> reply)
{
    return reply.size() == 1 ? reply[0] : reply.size() > 2 ? reply[2] : 0;
}

// One frame as the device sends it: code byte (bit 7 on the last frame of a
// block), length, data, checksum. The length byte is the data's size modulo
// 256; a caller that wants a well-formed frame keeps data within 117 bytes.
inline std::vector<std::uint8_t> EncodeFrame(std::uint8_t code, std::span<const std::uint8_t> data,
                                             bool lastOfBlock = true)
{
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + kFrameOverhead);
    frame.push_back(static_cast<std::uint8_t>(lastOfBlock ? (code | kLastFrameBit) : (code & kFunctionCodeMask)));
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(FrameChecksum(frame.data(), frame.size()));
    return frame;
}

// One frame of a block, before its envelope.
struct FrameContent {
    std::uint8_t code;
    std::vector<std::uint8_t> data;
};

// Frames joined into one block: bit 7 on the last code byte only.
inline std::vector<std::uint8_t> EncodeBlock(std::span<const FrameContent> frames)
{
    std::vector<std::uint8_t> block;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto frame = EncodeFrame(frames[i].code, frames[i].data, i + 1 == frames.size());
        block.insert(block.end(), frame.begin(), frame.end());
    }
    return block;
}

} // namespace quillon
