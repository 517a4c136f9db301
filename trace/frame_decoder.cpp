#include "trace/frame_decoder.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "display/screen_reader.h"
#include "protocol/protocol.h"

namespace quillon {

namespace {

std::uint8_t At(std::span<const std::uint8_t> bytes, std::size_t index)
{
    return index < bytes.size() ? bytes[index] : 0;
}

std::string Hex2(unsigned value)
{
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", value & 0xFFu);
    return text.data();
}

std::string Number(unsigned value)
{
    return std::to_string(value);
}

// Text sizes as a device names them in the attribute: codes 2, 6 and 7 draw
// nothing.
std::string SizeName(std::uint8_t attribute)
{
    const std::uint8_t code = (attribute >> 3) & 0x07;
    if (code == 2 || code >= 6) {
        return "size code " + Number(code) + " (draws nothing)";
    }
    return "size " + Number(code);
}

std::string DescribeWriteString(std::span<const std::uint8_t> data)
{
    const std::uint8_t columnAndFlag = At(data, 0);
    const std::uint8_t attribute = At(data, 1);
    std::string text = "WRITE STRING " + SizeName(attribute) + ", page " + Number(attribute & 0x07) + ", column " +
                       Number(columnAndFlag & 0x7F);
    if ((attribute & 0xC0) != 0) {
        text += ", inverse";
    }
    if ((columnAndFlag & 0x80) != 0) {
        text += ", band cleared first";
    }
    return text + ": \"" + PrintableText(data.size() > 2 ? data.subspan(2) : data.subspan(data.size())) + "\"";
}

std::string DescribePageRange(std::uint8_t range)
{
    const std::uint8_t first = range & 0x07;
    const std::uint8_t last = (range >> 3) & 0x07;
    if ((range & 0xC0) != 0 || first > last) {
        return "page range " + Hex2(range) + " (refused)";
    }
    return "pages " + Number(first) + "-" + Number(last) + ", columns 0-127";
}

std::string DescribeSlider(std::span<const std::uint8_t> data)
{
    const std::uint8_t number = At(data, 0);
    std::string text = "DRAW SLIDER BAR number ";
    text += number <= 99 ? Number(number) : Number(number) + " (over 99: no digits)";
    text += ", slider at page " + Number(At(data, 1));
    text += data.size() == 8 ? " and the page below" : "";
    return text;
}

std::string DescribeReplyMode(std::uint16_t mode)
{
    if (mode == kSingleByteReplyMode) {
        return "single-byte replies";
    }
    return mode == kFramedReplyMode ? "framed replies" : "reply mode " + Number(mode);
}

std::string Join(std::string left, const std::string& right)
{
    if (left.empty()) {
        return right;
    }
    return right.empty() ? left : left + ", " + right;
}

} // namespace

FrameFaults CheckFrame(std::span<const std::uint8_t> frame)
{
    FrameFaults faults;
    const std::uint8_t length = At(frame, 1);
    faults.checksumReceived = At(frame, 2u + length);
    unsigned sum = 1;
    for (std::size_t i = 0; i < std::size_t{length} + 2; ++i) {
        sum += At(frame, i);
    }
    faults.checksumExpected = static_cast<std::uint8_t>(sum);
    faults.checksumWrong = faults.checksumExpected != faults.checksumReceived;
    const std::uint8_t code = At(frame, 0) & kFunctionCodeMask;
    faults.codeUnknown = FunctionName(code).empty() || code == kWritePreDefStr;
    faults.lengthWrong = !faults.codeUnknown && !LengthAllowed(code, length);
    return faults;
}

std::string DescribeFrameFaults(std::span<const std::uint8_t> frame)
{
    const FrameFaults faults = CheckFrame(frame);
    std::string text;
    if (faults.checksumWrong) {
        text = "checksum " + Hex2(faults.checksumReceived) + ", expected " + Hex2(faults.checksumExpected);
    }
    const std::uint8_t code = At(frame, 0) & kFunctionCodeMask;
    if (faults.codeUnknown) {
        text = Join(text, code == kWritePreDefStr ? "WRITE PRE DEF STR is not supported"
                                                  : "unknown function code " + Number(code));
    }
    if (faults.lengthWrong) {
        const LengthRule rule = kLengthRules[code];
        const std::string allowed =
            rule.min == rule.max ? Number(rule.min) : Number(rule.min) + " to " + Number(rule.max);
        text = Join(text, "length " + Number(At(frame, 1)) + " not allowed for " + std::string(FunctionName(code)) +
                              " (" + allowed + ")");
    }
    return text;
}

std::string DescribeFrame(std::span<const std::uint8_t> frame)
{
    const std::uint8_t codeByte = At(frame, 0);
    const std::uint8_t length = At(frame, 1);
    const std::span<const std::uint8_t> data = frame.size() > 2
                                                   ? frame.subspan(2, std::min<std::size_t>(length, frame.size() - 2))
                                                   : frame.subspan(frame.size());
    std::string text;
    switch (codeByte & kFunctionCodeMask) {
    case kWriteString:
        text = DescribeWriteString(data);
        break;
    case kWriteArray:
        text = "WRITE ARRAY page " + Number(At(data, 1)) + ", column " + Number(At(data, 0)) + ", " +
               Number(data.size() > 2 ? static_cast<unsigned>(data.size() - 2) : 0u) + " column bytes";
        break;
    case kSetupDisplay:
        text = "SETUP DISPLAY " + Hex2(At(data, 0)) + ((At(data, 0) & 0x80) != 0 ? ": start-up screen" : "");
        break;
    case kBlankArea:
        text = "BLANK AREA " + DescribePageRange(At(data, 0));
        break;
    case kReadSwitches:
        text = "READ SWITCHES";
        break;
    case kSetContrast:
        text = "SET CONTRAST " + Number(At(data, 0));
        break;
    case kDrawSliderBar:
        text = DescribeSlider(data);
        break;
    case kWriteFrameHeader:
        text = "WRITE FRAME HEADER \"" + PrintableText(data.first(std::min<std::size_t>(data.size(), 17))) + "\"";
        break;
    case kDrawAndRepeat:
        text = "DRAW AND REPEAT page " + Number(At(data, 1)) + ", column " + Number(At(data, 0)) + ", " +
               Number(data.size() > 3 ? static_cast<unsigned>(data.size() - 3) : 0u) + " pattern bytes x " +
               Number(At(data, 2) + 1u);
        break;
    case kDrawIcon:
        text =
            "DRAW ICON " + Number(At(data, 2)) + " at page " + Number(At(data, 1)) + ", column " + Number(At(data, 0));
        break;
    case kSetContrastAndReplyMode:
        text = "SET CONTRAST AND REPLY MODE contrast " + Number(At(data, 0)) + ", " +
               DescribeReplyMode(static_cast<std::uint16_t>(At(data, 1) | (At(data, 2) << 8)));
        break;
    case kWritePreDefStr:
        text = "WRITE PRE DEF STR";
        break;
    default:
        text = "function code " + Number(codeByte & kFunctionCodeMask);
        break;
    }
    if ((codeByte & kLastFrameBit) != 0) {
        text += " (last of block)";
    }
    return text;
}

std::string DescribeStatusErrors(std::uint8_t status)
{
    const bool checksum = (status & kStatusChecksumError) != 0;
    const bool frame = (status & kStatusFrameError) != 0;
    if (checksum && frame) {
        return "checksum and frame error";
    }
    if (checksum) {
        return "checksum error";
    }
    return frame ? "frame error" : "no error";
}

std::string DescribeKey(std::uint8_t status)
{
    switch (status >> kStatusKeyShift) {
    case 0:
        return "no key";
    case kKeyRight:
        return "key RIGHT";
    case kKeyLeft:
        return "key LEFT";
    case kKeyUp:
        return "key UP";
    case kKeyDown:
        return "key DOWN";
    default:
        return "key bits " + Hex2(status >> kStatusKeyShift);
    }
}

std::string DescribeReply(std::span<const std::uint8_t> reply)
{
    if (reply.size() == kSynchRequest.size() && std::equal(reply.begin(), reply.end(), kSynchRequest.begin())) {
        return "synchronisation request";
    }
    const auto statusText = [](std::uint8_t status) {
        return "status " + Hex2(status) + ": " + DescribeStatusErrors(status) + ", " + DescribeKey(status);
    };
    if (reply.size() == 1) {
        return "single-byte " + statusText(reply[0]);
    }
    if (reply.size() == ShortStatusFrame(0).size() && reply[0] == kReadSwitches) {
        return "short " + statusText(reply[2]);
    }
    if (reply.size() == LongStatusFrame(0).size() && reply[0] == kSetContrastAndReplyMode) {
        return "long " + statusText(reply[2]);
    }
    return "reply of " + Number(static_cast<unsigned>(reply.size())) + " bytes";
}

std::string DescribeRxErrors(std::uint8_t bits)
{
    std::string text;
    if ((bits & kRxOverflow) != 0) {
        text = Join(text, "overflow: more than 120 bytes in one block");
    }
    if ((bits & kRxBadFunctionCode) != 0) {
        text = Join(text, "bad function code");
    }
    if ((bits & kRxBadLength) != 0) {
        text = Join(text, "bad length: more than 117 data bytes");
    }
    if ((bits & kRxByteDuringCompleteBlock) != 0) {
        text = Join(text, "byte during a complete block");
    }
    return text;
}

std::string PrintableText(std::span<const std::uint8_t> text)
{
    std::string printable;
    for (const std::uint8_t byte : text) {
        if (byte == '"' || byte == '\\') {
            printable += '\\';
            printable += static_cast<char>(byte);
        } else if (byte >= 1 && byte <= 126) {
            // The panel's own characters as the screen shows them: 42°C,
            // ↑↓ select.
            printable += PanelTextToUtf8(std::string_view(reinterpret_cast<const char*>(&byte), 1));
        } else {
            std::array<char, 8> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "\\x%02X", byte);
            printable += escaped.data();
        }
    }
    return printable;
}

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

} // namespace quillon
