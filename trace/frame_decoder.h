#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Frames, replies and errors of the panel link told in words, for the
// protocol monitor, trace files and the headless runner.
namespace quillon {

// What is wrong with a frame as the panel checks it, in the order it checks.
struct FrameFaults {
    bool checksumWrong = false;
    std::uint8_t checksumExpected = 0;
    std::uint8_t checksumReceived = 0;
    bool codeUnknown = false;
    bool lengthWrong = false;

    bool any() const { return checksumWrong || codeUnknown || lengthWrong; }
};

FrameFaults CheckFrame(std::span<const std::uint8_t> frame);
// "checksum 0x12, expected 0x13; length 4 not allowed for DRAW ICON (3)";
// empty for a sound frame.
std::string DescribeFrameFaults(std::span<const std::uint8_t> frame);

// The meaning of a frame the device sent: its command and parameters, e.g.
// WRITE STRING size 1, page 3, column 4: "MAIN MENU".
std::string DescribeFrame(std::span<const std::uint8_t> frame);

// The meaning of a panel reply: a short or long status frame or a single
// status byte, with its error bits and latched key.
std::string DescribeReply(std::span<const std::uint8_t> reply);
// "no error", "checksum error", "frame error", "checksum and frame error".
std::string DescribeStatusErrors(std::uint8_t status);
// "key UP", "key DOWN", "key LEFT", "key RIGHT", "no key", or the bits.
std::string DescribeKey(std::uint8_t status);

// Receive error bits in words: "overflow", "bad function code", "bad
// length", "byte during a complete block", joined by ", ".
std::string DescribeRxErrors(std::uint8_t bits);

// The text of a WRITE STRING or header in the panel's own characters, in
// UTF-8 (codes 1 to 31 are its accented letters and symbols); a byte outside
// its set (0, 127 and above) shows as \xNN, quotes and backslashes are
// escaped.
std::string PrintableText(std::span<const std::uint8_t> text);

// Bytes as hex pairs separated by spaces: "81 04 00 00 41 42 09".
std::string HexBytes(std::span<const std::uint8_t> bytes);

} // namespace quillon
