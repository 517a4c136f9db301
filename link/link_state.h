#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quillon {

// Size of the receive buffer: one block, and so one frame, never exceeds it.
inline constexpr std::size_t kRxBufferSize = 120;
// Longest data part a frame may announce: 117 + code, length and checksum = 120.
inline constexpr std::uint8_t kMaxFrameDataLength = 117;
inline constexpr std::uint8_t kHighestFunctionCode = 14;
inline constexpr std::uint8_t kLastFrameBit = 0x80;

// Status byte: error nibble low, latched key high.
inline constexpr std::uint8_t kStatusChecksumError = 0x01;
inline constexpr std::uint8_t kStatusFrameError = 0x08;
inline constexpr std::uint8_t kStatusErrorMask = 0x0F;

// Receive error bits, raised by the reader and answered as status bit 0x08.
inline constexpr std::uint8_t kRxOverflow = 0x01;
inline constexpr std::uint8_t kRxBadFunctionCode = 0x02;
inline constexpr std::uint8_t kRxBadLength = 0x04;
inline constexpr std::uint8_t kRxByteDuringCompleteBlock = 0x08;

// replyMode value that selects the single-byte reply.
inline constexpr std::uint16_t kSingleByteReplyMode = 0xFFFF;
inline constexpr std::uint16_t kFramedReplyMode = 1;

// The receive buffer is written by the reader thread and read (and, for the
// long status frame and injected frames, written) by the UI thread. The
// hand-over protocol keeps them apart in practice; relaxed atomic bytes make
// the rare overlaps (an error reply while garbage keeps arriving) well defined
// at the price of nothing on the machines we run on.
class RxBuffer {
public:
    std::uint8_t operator[](std::size_t index) const { return bytes_[index].load(std::memory_order_relaxed); }
    void Set(std::size_t index, std::uint8_t value) { bytes_[index].store(value, std::memory_order_relaxed); }
    static constexpr std::size_t size() { return kRxBufferSize; }

    // Index-checked read: a position outside the buffer reads as 0, which is
    // neither a last-frame marker nor function code 14.
    std::uint8_t At(std::size_t index) const { return index < kRxBufferSize ? (*this)[index] : 0; }

private:
    std::array<std::atomic<std::uint8_t>, kRxBufferSize> bytes_{};
};

// The display controller's work area. Operations take their parameters from
// these fields rather than from arguments, so a command fills them and calls.
struct DisplayWork {
    std::array<std::uint8_t, 128> runBuffer{};
    std::uint8_t runLength = 0;

    std::uint8_t cellOffset = 0;
    std::uint8_t textLength = 0;
    // Text is copied out of the shared receive buffer before rendering, so
    // textPtr always points at textCopy.
    std::array<std::uint8_t, 32> textCopy{};
    const std::uint8_t* textPtr = nullptr;
    std::uint8_t charIndex = 0;
    std::uint8_t scaleX = 0;
    std::uint8_t bandPagesLeft = 0;
    std::uint8_t glyphColumn = 0;
    std::uint8_t stretchedColumn = 0;
    std::uint8_t inverse = 0;
    std::uint8_t lineLimit = 0;

    std::uint8_t runColumn = 0;
    std::uint8_t runPage = 0;
    std::uint8_t frameChecksum = 0;
    std::uint8_t contrast = 0;
    std::uint8_t repeatCount = 0;

    // Fields of the frame being processed; the last five are shared with the
    // reader thread.
    std::uint8_t frameLength = 0;
    std::uint8_t functionCode = 0;
    std::uint8_t frameCursor = 0;
    std::atomic<std::uint8_t> framesReceived{0};
    std::uint8_t framesProcessed = 0;
    std::atomic<std::uint8_t> rxIndex{0};
    std::atomic<std::uint8_t> rxFrameStart{0};
    std::atomic<std::uint8_t> blockComplete{0};
};

// The record shared by the reader thread (R) and the UI thread (U). Fields
// both threads touch are atomic; the reader publishes a frame by incrementing
// framesReceived with release order after storing its bytes, and the UI thread
// reads the count with acquire order before it looks at the frame.
struct LinkState {
    std::atomic<std::uint8_t> linkEnabled{0};
    std::atomic<std::uint32_t> lastRxTick{0};
    RxBuffer rxBuffer;
    std::atomic<std::uint8_t> rxErrors{0};
    std::uint8_t setupByte = 0;
    std::uint8_t pageRange = 0;
    std::uint8_t textAttribute = 0;
    std::uint8_t status = 0;
    // Offset of the current command's first data byte in rxBuffer.
    std::uint8_t dataPtr = 0;
    DisplayWork work;
    std::atomic<std::uint8_t> synchNotRequired{1};
    std::atomic<std::uint16_t> replyMode{kFramedReplyMode};
};

// The "Synch. Required" mode switches two fields together: the flag that
// enables synchronisation requests and the single-byte reply form.
inline void SetSynchRequired(LinkState& state, bool required)
{
    state.synchNotRequired = required ? 0 : 1;
    state.replyMode = required ? kSingleByteReplyMode : kFramedReplyMode;
}

} // namespace quillon
