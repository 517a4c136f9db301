#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <thread>

#include "link/engine_interfaces.h"
#include "link/event_stream.h"
#include "link/spsc_ring.h"
#include "protocol/protocol.h"

namespace quillon {

// What one pass of the receiver found.
enum class ReceiveResult {
    NoInput,     // nothing waiting, or the port could not be queried
    Held,        // bytes are waiting but stay queued until the block in hand is answered
    ByteHandled, // one byte was read (stored or dropped)
};

// The frame receiver: takes the device's bytes one at a time into its receive
// buffer, checks each frame's code and length byte, counts complete frames
// and marks a block complete at the frame with bit 7.
//
// It owns its buffer, indices, error bits and reader thread, and is the only
// writer of them. What the supervisor wants of them travels as hand-overs
// that the receiver applies at the start of its next pass: the reset after a
// reply, and frames injected by hand, taken only between blocks.
class FrameReceiver {
public:
    FrameReceiver(PanelPort& port, Clock& clock, EventStream& events);
    ~FrameReceiver();
    FrameReceiver(const FrameReceiver&) = delete;
    FrameReceiver& operator=(const FrameReceiver&) = delete;

    // The reader thread: waits for input, one pass per byte.
    void Start();
    void Stop();
    bool running() const { return reader_.joinable(); }
    // One pass: applies the hand-overs, then looks at the port once and
    // handles at most one byte. The reader thread's loop body; tests and
    // tools without a thread call it themselves.
    ReceiveResult ReceivePass();
    // Called on the reader thread whenever a block is complete.
    void SetBlockCompleteCallback(std::function<void()> callback) { onBlockComplete_ = std::move(callback); }

    // While the link is disabled a complete block holds back further bytes
    // in the port instead of refusing them.
    void SetLinkEnabled(bool enabled) { linkEnabled_.store(enabled); }
    bool linkEnabled() const { return linkEnabled_.load(); }

    // Supervisor side (the ticking thread).
    // Frames counted since the receiver was made; never reset.
    std::uint32_t framesReceived() const { return framesReceived_.load(std::memory_order_acquire); }
    // Receive error bits; 0 while a reset that clears them waits.
    std::uint8_t errors() const;
    // Buffer byte at index, 0 outside the buffer.
    std::uint8_t ByteAt(std::size_t index) const;
    // Copies buffer bytes from index on into out, 0 past the buffer.
    void CopyOut(std::size_t index, std::span<std::uint8_t> out) const;
    // Bumped on every pass that found bytes waiting, with the clock value of
    // that pass: the supervisor's measure of line activity.
    std::uint32_t activity() const { return activity_.load(std::memory_order_acquire); }
    std::uint32_t lastByteTick() const { return lastByteTick_.load(std::memory_order_relaxed); }
    // The block a byte taken from the port now belongs to: replies sent
    // before it, plus one, counting a reply whose reset waits to be
    // applied. Reader thread only.
    std::uint32_t BlockOfNextByte() const;
    // Bytes refused while the event queue was crowded and not yet told, with
    // the receive error bits they carried; the count is taken (0 after).
    std::uint32_t TakeUntoldRefused(std::uint8_t& errors);
    // The count framesReceived reached with the last frame injected by hand.
    std::uint32_t lastInjectedFrame() const { return lastInjectedFrame_.load(std::memory_order_acquire); }

    struct ResetRequest {
        bool clearErrors = false;
        // The long status reply clears the head of the buffer, so a later
        // error reply at index 0 takes the short form.
        bool clearHead = false;
    };
    // After a reply: the next block is stored from index 0.
    void RequestReset(ResetRequest request);
    // A whole frame, handed over to be taken as a one-frame block between
    // the device's blocks. False if too many wait already.
    bool Inject(std::span<const std::uint8_t> frame);
    // With no reader thread the caller's thread takes the hand-overs now.
    void ApplyHandOversIfIdle();

private:
    struct Injected {
        std::array<std::uint8_t, kRxBufferSize> bytes{};
        std::uint8_t length = 0;
    };

    void ReaderLoop(std::stop_token stop);
    void ApplyHandOvers();
    void TakeInjected(const Injected& frame);
    // A byte while a complete block waits for its reply: held or refused.
    ReceiveResult ReceiveDuringCompleteBlock(std::uint32_t now);
    // Counts the frame that starts at frameStart when the byte stored just
    // before next was its last.
    void CompleteFrameAt(std::uint8_t frameStart, std::uint8_t next, std::uint32_t now);
    void StoreByte(std::size_t index, std::uint8_t byte) { buffer_[index].store(byte, std::memory_order_relaxed); }
    std::uint8_t Stored(std::size_t index) const { return buffer_[index].load(std::memory_order_relaxed); }
    LinkEvent Event(LinkEventKind kind, std::uint8_t byte, std::uint32_t now) const;
    void ReportByte(std::uint8_t byte, std::uint32_t now, std::uint8_t errors = 0);
    void RaiseErrors(std::uint8_t bits, std::uint8_t byte, std::uint32_t now);
    // A byte that makes no frame: told byte by byte while the event queue has
    // room, counted while it is crowded (a flood), so the queue always has
    // room for the frames.
    void Refuse(std::uint8_t byte, std::uint8_t raised, std::uint32_t now);
    void TellUntoldRefused(std::uint32_t now);
    void CountFrame(std::size_t start, std::size_t end, bool injected, std::uint32_t now);
    bool ResetPending(std::uint32_t& request) const;

    PanelPort& port_;
    Clock& clock_;
    EventStream& events_;
    std::function<void()> onBlockComplete_;

    // Written by the reader only (relaxed atomics where the supervisor reads).
    std::array<std::atomic<std::uint8_t>, kRxBufferSize> buffer_{};
    std::uint8_t index_ = 0;
    std::uint8_t frameStart_ = 0;
    bool blockComplete_ = false;
    // The complete block is a frame injected by hand: the device's next bytes
    // wait in the port until it is answered.
    bool injectedBlock_ = false;
    std::uint32_t block_ = 1;
    std::atomic<std::uint8_t> errors_{0};
    std::atomic<std::uint32_t> framesReceived_{0};
    std::atomic<std::uint32_t> activity_{0};
    std::atomic<std::uint32_t> lastByteTick_{0};
    std::atomic<std::uint32_t> resetsApplied_{0};
    std::atomic<std::uint32_t> lastInjectedFrame_{0};
    // Refused bytes counted rather than told; taken by either thread.
    std::atomic<std::uint32_t> untoldRefused_{0};
    std::atomic<std::uint8_t> untoldErrors_{0};

    // Written by the ticking thread only.
    // Requests counted in the high bits, the request's flags in the low two.
    std::atomic<std::uint32_t> resetRequest_{0};
    std::atomic<bool> linkEnabled_{false};
    SpscRing<Injected, 8> injected_;

    std::jthread reader_;
};

} // namespace quillon
