#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillon {

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

} // namespace quillon
