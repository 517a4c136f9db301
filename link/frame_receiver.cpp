#include "link/frame_receiver.h"

#include <algorithm>
#include <chrono>

namespace quillon {

namespace {

// How long the reader waits for input before it looks again at its stop
// request and its hand-overs. Input wakes it at once, so this bounds only how
// fast it notices a stop or a frame injected on a quiet line, not how fast it
// answers the line.
constexpr int kReaderWaitMs = 50;
// While a complete block holds the device's next bytes in the port, the
// reader looks again after this pause instead of spinning on them.
constexpr auto kHeldPause = std::chrono::milliseconds(1);

// The reset request word: the count of requests above the two flag bits.
constexpr std::uint32_t kResetClearErrors = 0x1;
constexpr std::uint32_t kResetClearHead = 0x2;
constexpr std::uint32_t kResetFlags = kResetClearErrors | kResetClearHead;
constexpr int kResetCountShift = 2;
// Bytes the long status reply clears at the head of the buffer.
constexpr std::size_t kClearedHead = 8;

} // namespace

FrameReceiver::FrameReceiver(PanelPort& port, Clock& clock, EventStream& events)
    : port_(port), clock_(clock), events_(events)
{
}

FrameReceiver::~FrameReceiver()
{
    Stop();
}

void FrameReceiver::Start()
{
    if (reader_.joinable()) {
        return;
    }
    reader_ = std::jthread([this](std::stop_token stop) { ReaderLoop(stop); });
}

void FrameReceiver::Stop()
{
    if (reader_.joinable()) {
        reader_.request_stop();
        reader_.join();
    }
}

void FrameReceiver::ReaderLoop(std::stop_token stop)
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

bool FrameReceiver::ResetPending(std::uint32_t& request) const
{
    request = resetRequest_.load(std::memory_order_acquire);
    return (request >> kResetCountShift) != resetsApplied_.load(std::memory_order_acquire);
}

std::uint32_t FrameReceiver::BlockOfNextByte() const
{
    std::uint32_t request = 0;
    return ResetPending(request) ? block_ + 1 : block_;
}

std::uint8_t FrameReceiver::errors() const
{
    std::uint32_t request = 0;
    if (ResetPending(request) && (request & kResetClearErrors) != 0) {
        return 0;
    }
    return errors_.load();
}

std::uint8_t FrameReceiver::ByteAt(std::size_t index) const
{
    if (index >= kRxBufferSize) {
        return 0;
    }
    std::uint32_t request = 0;
    if (index < kClearedHead && ResetPending(request) && (request & kResetClearHead) != 0) {
        return 0;
    }
    return buffer_[index].load(std::memory_order_relaxed);
}

void FrameReceiver::CopyOut(std::size_t index, std::span<std::uint8_t> out) const
{
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = ByteAt(index + i);
    }
}

void FrameReceiver::RequestReset(ResetRequest request)
{
    const std::uint32_t current = resetRequest_.load(std::memory_order_relaxed);
    std::uint32_t flags = (request.clearErrors ? kResetClearErrors : 0) | (request.clearHead ? kResetClearHead : 0);
    std::uint32_t pending = 0;
    if (ResetPending(pending)) {
        // Two replies before the reader came round: it applies both at once.
        flags |= current & kResetFlags;
    }
    const std::uint32_t count = (current >> kResetCountShift) + 1;
    resetRequest_.store((count << kResetCountShift) | flags, std::memory_order_release);
    ApplyHandOversIfIdle();
}

bool FrameReceiver::Inject(std::span<const std::uint8_t> frame)
{
    Injected injected;
    injected.length = static_cast<std::uint8_t>(std::min(frame.size(), injected.bytes.size()));
    std::copy_n(frame.begin(), injected.length, injected.bytes.begin());
    const bool queued = injected_.Push(injected);
    ApplyHandOversIfIdle();
    return queued;
}

void FrameReceiver::ApplyHandOversIfIdle()
{
    if (!running()) {
        ApplyHandOvers();
    }
}

void FrameReceiver::ApplyHandOvers()
{
    std::uint32_t request = 0;
    if (ResetPending(request)) {
        index_ = 0;
        frameStart_ = 0;
        blockComplete_ = false;
        injectedBlock_ = false;
        if ((request & kResetClearHead) != 0) {
            for (std::size_t i = 0; i < kClearedHead; ++i) {
                StoreByte(i, 0);
            }
        }
        if ((request & kResetClearErrors) != 0) {
            errors_.store(0);
        }
        ++block_;
        resetsApplied_.store(request >> kResetCountShift, std::memory_order_release);
    }

    // A hand-made frame is taken only between blocks, never into a block the
    // device is half way through.
    if (index_ == 0 && !blockComplete_ && !injected_.Empty() && errors_.load() == 0) {
        Injected frame;
        injected_.Pop(frame);
        TakeInjected(frame);
    }
}

void FrameReceiver::TakeInjected(const Injected& frame)
{
    for (std::size_t i = 0; i < frame.length; ++i) {
        StoreByte(i, frame.bytes[i]);
    }
    blockComplete_ = true;
    injectedBlock_ = true;
    CountFrame(0, frame.length, true, clock_.NowMs());
}

ReceiveResult FrameReceiver::ReceivePass()
{
    std::size_t waiting = 0;
    const bool queried = port_.BytesWaiting(waiting);
    // Looked at after the queue: a byte the device sent in answer to a reply
    // always finds that reply's reset applied.
    ApplyHandOvers();
    if (!queried || waiting == 0) {
        if (untoldRefused_.load(std::memory_order_relaxed) != 0) {
            TellUntoldRefused(clock_.NowMs());
        }
        return ReceiveResult::NoInput;
    }
    const std::uint32_t now = clock_.NowMs();
    lastByteTick_.store(now, std::memory_order_relaxed);
    activity_.fetch_add(1, std::memory_order_release);

    if (blockComplete_) {
        return ReceiveDuringCompleteBlock(now);
    }

    const std::uint8_t index = index_;
    const std::uint8_t frameStart = frameStart_;
    std::uint8_t raised = 0;
    std::uint8_t byte = 0;
    // Past the end of the buffer a byte is dropped, and so it is once the
    // index has wrapped round below the frame being received: the frames
    // counted before it stay as they arrived until the supervisor has taken
    // them.
    if (index >= kRxBufferSize || index < frameStart) {
        raised = kRxOverflow;
        port_.ReadByte(byte);
    } else {
        if (!port_.ReadByte(byte)) {
            // The queue promised a byte the driver could not deliver: skip it
            // rather than take stale buffer content for received data.
            return ReceiveResult::ByteHandled;
        }
        StoreByte(index, byte);
        if (index == frameStart) {
            if (!IsValidFunctionCode(byte)) {
                raised = kRxBadFunctionCode;
            }
        } else if (index == frameStart + 1 && byte > kMaxFrameDataLength) {
            raised = kRxBadLength;
        }
    }
    const auto next = static_cast<std::uint8_t>(index + 1);
    index_ = next;
    // After a receive error no frame completes until the reply that clears
    // it: every byte till then is refused.
    if (raised != 0 || errors_.load() != 0) {
        Refuse(byte, raised, now);
        return ReceiveResult::ByteHandled;
    }
    ReportByte(byte, now);
    CompleteFrameAt(frameStart, next, now);
    return ReceiveResult::ByteHandled;
}

ReceiveResult FrameReceiver::ReceiveDuringCompleteBlock(std::uint32_t now)
{
    // While the link is paused, or a frame injected by hand waits for its
    // reply, the device's bytes stay queued, to be judged once the block in
    // hand is answered.
    if (!linkEnabled_.load() || injectedBlock_) {
        return ReceiveResult::Held;
    }
    // The device must wait for the reply before it sends again; a byte now
    // is a protocol error.
    std::uint8_t scratch = 0;
    port_.ReadByte(scratch);
    Refuse(scratch, kRxByteDuringCompleteBlock, now);
    return ReceiveResult::ByteHandled;
}

void FrameReceiver::CompleteFrameAt(std::uint8_t frameStart, std::uint8_t next, std::uint32_t now)
{
    // A length byte that would lie outside the buffer has not arrived, so no
    // frame can complete there.
    const unsigned lengthIndex = frameStart + 1u;
    if (lengthIndex >= kRxBufferSize) {
        return;
    }
    const unsigned frameEnd = lengthIndex + Stored(lengthIndex) + 2u;
    if (next != frameEnd) {
        return;
    }
    if ((Stored(frameStart) & kLastFrameBit) != 0) {
        blockComplete_ = true;
        frameStart_ = 0;
        index_ = 0;
    } else {
        frameStart_ = static_cast<std::uint8_t>(frameEnd);
    }
    CountFrame(frameStart, frameEnd, false, now);
}

LinkEvent FrameReceiver::Event(LinkEventKind kind, std::uint8_t byte, std::uint32_t now) const
{
    LinkEvent event;
    event.kind = kind;
    event.timeMs = now;
    event.timeUs = clock_.NowMicros();
    event.block = block_;
    event.byte = byte;
    return event;
}

void FrameReceiver::ReportByte(std::uint8_t byte, std::uint32_t now, std::uint8_t errors)
{
    if (events_.wanted()) {
        LinkEvent event = Event(LinkEventKind::ByteReceived, byte, now);
        event.rxErrors = errors;
        events_.PushFromReader(event);
    }
}

void FrameReceiver::Refuse(std::uint8_t byte, std::uint8_t raised, std::uint32_t now)
{
    if (!events_.wanted()) {
        errors_.fetch_or(raised);
        return;
    }
    if (events_.Crowded()) {
        errors_.fetch_or(raised);
        untoldErrors_.fetch_or(errors_.load(), std::memory_order_relaxed);
        untoldRefused_.fetch_add(1, std::memory_order_release);
        return;
    }
    if (untoldRefused_.load(std::memory_order_relaxed) != 0) {
        TellUntoldRefused(now);
    }
    ReportByte(byte, now, static_cast<std::uint8_t>(errors_.load() | raised));
    if (raised != 0) {
        RaiseErrors(raised, byte, now);
    }
}

std::uint32_t FrameReceiver::TakeUntoldRefused(std::uint8_t& errors)
{
    const std::uint32_t count = untoldRefused_.exchange(0, std::memory_order_acquire);
    errors = untoldErrors_.exchange(0, std::memory_order_relaxed);
    return count;
}

void FrameReceiver::TellUntoldRefused(std::uint32_t now)
{
    if (events_.Crowded()) {
        return;
    }
    LinkEvent event = Event(LinkEventKind::BytesRefused, 0, now);
    event.value = TakeUntoldRefused(event.rxErrors);
    if (event.value != 0) {
        events_.PushFromReader(event);
    }
}

void FrameReceiver::RaiseErrors(std::uint8_t bits, std::uint8_t byte, std::uint32_t now)
{
    errors_.fetch_or(bits);
    if (events_.wanted()) {
        LinkEvent event = Event(LinkEventKind::ErrorRaised, byte, now);
        event.rxErrors = bits;
        events_.PushFromReader(event);
    }
}

void FrameReceiver::CountFrame(std::size_t start, std::size_t end, bool injected, std::uint32_t now)
{
    if (events_.wanted()) {
        LinkEvent event = Event(LinkEventKind::FrameCompleted, 0, now);
        event.injected = injected;
        event.length = static_cast<std::uint8_t>(end - start);
        for (std::size_t i = 0; i < event.length; ++i) {
            event.data[i] = Stored(start + i);
        }
        events_.PushFromReader(event);
    }
    if (injected) {
        lastInjectedFrame_.store(framesReceived_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    // Counted last: the supervisor starts on the frame as soon as it sees it.
    framesReceived_.fetch_add(1, std::memory_order_release);
    if (blockComplete_ && onBlockComplete_) {
        onBlockComplete_();
    }
}

} // namespace quillon
