#include <chrono>
#include <thread>

#include "link/panel_link.h"

namespace quillon {

namespace {

// How long the reader waits for input before it looks again at its stop
// request. Input wakes it at once, so this bounds only how fast it notices a
// stop, not how fast it answers the line.
constexpr int kReaderWaitMs = 50;
// While a paused link holds a complete block, bytes stay queued in the port;
// the reader looks again after this pause instead of spinning on them.
constexpr auto kHeldPause = std::chrono::milliseconds(1);

bool IsValidFunctionCode(std::uint8_t codeByte)
{
    const std::uint8_t code = codeByte & 0x7F;
    return code != 0 && code <= kHighestFunctionCode;
}

} // namespace

void CPanelLink::StartReceiveThread()
{
    if (readerThread_.joinable()) {
        return;
    }
    readerThread_ = std::jthread([this](std::stop_token stop) { ReceiveThreadProc(stop); });
}

void CPanelLink::StopReceiveThread()
{
    if (readerThread_.joinable()) {
        readerThread_.request_stop();
        readerThread_.join();
    }
}

void CPanelLink::ReceiveThreadProc(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        switch (ReceivePass()) {
        case ReceiveResult::NoInput:
            port_.WaitForInput(kReaderWaitMs);
            break;
        case ReceiveResult::Held:
            std::this_thread::sleep_for(kHeldPause);
            break;
        case ReceiveResult::ByteHandled:
            break;
        }
    }
}

ReceiveResult CPanelLink::ReceivePass()
{
    std::size_t waiting = 0;
    if (!port_.BytesWaiting(waiting) || waiting == 0) {
        return ReceiveResult::NoInput;
    }
    state_.lastRxTick.store(clock_.NowMs());

    DisplayWork& work = state_.work;
    std::uint8_t scratch = 0;
    if (work.blockComplete.load(std::memory_order_acquire) != 0) {
        // The device must wait for the reply before it sends again; a byte
        // now is a protocol error. While the link is paused the byte stays
        // queued, to be judged once the link runs again.
        if (state_.linkEnabled.load() == 0) {
            return ReceiveResult::Held;
        }
        port_.ReadByte(scratch);
        state_.rxErrors.fetch_or(kRxByteDuringCompleteBlock);
        return ReceiveResult::ByteHandled;
    }

    const std::uint8_t index = work.rxIndex.load(std::memory_order_relaxed);
    const std::uint8_t frameStart = work.rxFrameStart.load(std::memory_order_relaxed);
    std::uint8_t raised = 0;
    // Past the end of the buffer a byte is dropped, and so it is once the
    // index has wrapped round below the frame being received: the frames
    // counted before it stay as they arrived until the supervisor has taken
    // them.
    if (index >= kRxBufferSize || index < frameStart) {
        raised = kRxOverflow;
        port_.ReadByte(scratch);
    } else {
        std::uint8_t byte = 0;
        if (!port_.ReadByte(byte)) {
            // The queue promised a byte the driver could not deliver: skip it
            // rather than take stale buffer content for received data.
            return ReceiveResult::ByteHandled;
        }
        state_.rxBuffer.Set(index, byte);
        if (index == frameStart) {
            if (!IsValidFunctionCode(byte)) {
                raised = kRxBadFunctionCode;
            }
        } else if (index == frameStart + 1 && byte > kMaxFrameDataLength) {
            raised = kRxBadLength;
        }
    }

    // The index moves before the error is raised, so once the supervisor sees
    // the error this byte's bookkeeping is finished.
    const auto next = static_cast<std::uint8_t>(index + 1);
    work.rxIndex.store(next, std::memory_order_relaxed);
    if (raised != 0) {
        state_.rxErrors.fetch_or(raised);
    }
    if (state_.rxErrors.load() != 0) {
        return ReceiveResult::ByteHandled;
    }

    // A length byte that would lie outside the buffer has not arrived, so no
    // frame can complete there.
    const unsigned lengthIndex = frameStart + 1u;
    if (lengthIndex >= kRxBufferSize) {
        return ReceiveResult::ByteHandled;
    }
    const unsigned frameEnd = lengthIndex + state_.rxBuffer[lengthIndex] + 2u;
    if (next != frameEnd) {
        return ReceiveResult::ByteHandled;
    }
    if ((state_.rxBuffer[frameStart] & kLastFrameBit) != 0) {
        work.blockComplete.store(1, std::memory_order_release);
        work.rxFrameStart.store(0, std::memory_order_relaxed);
        work.rxIndex.store(0, std::memory_order_relaxed);
    } else {
        work.rxFrameStart.store(static_cast<std::uint8_t>(frameEnd), std::memory_order_relaxed);
    }
    // Counted last: the supervisor starts on the frame as soon as it sees it.
    work.framesReceived.fetch_add(1, std::memory_order_release);
    return ReceiveResult::ByteHandled;
}

} // namespace quillon
