// The frame receiver and the link supervisor: any byte stream from the device,
// interleaved with receiver passes, ticks, answers to complete blocks, clock
// steps (wrap-around included), key presses, link pauses, the synch mode, port
// faults and Send Packet frames, all chosen by the input. No thread and no
// sleeping: the input drives every pass and every tick on a hand-moved clock.
//
// Beside the engine runs a model of the receiver and of the reply
// obligations, written from the protocol rules alone. After every pass the
// receiver must agree with it (what it took from the port, the frames it
// counted, its error bits, the byte it stored); after every tick each counted
// frame must reach the supervisor exactly as it arrived, every complete block
// must get exactly one reply whose form, key nibble and error nibble follow
// from the block, and nothing else may be written but the error reply after
// 120 ms of quiet, the silence reply after 10 s and the synchronisation
// request when it is due.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "display/display_controller.h"
#include "fuzz/harness.h"
#include "fuzz/scripts.h"
#include "link/panel_engine.h"

namespace quillon::fuzzing {
namespace {

constexpr std::uint32_t kSynchIntervalMs = 2000;
constexpr std::uint32_t kErrorQuietMs = 120;
constexpr std::uint32_t kSilenceMs = 10000;
// Bytes the long status reply clears at the head of the buffer.
constexpr std::size_t kClearedHead = 8;

// Events that leave the receiver through the queue, delivered whenever the
// supervisor next reports one of its own.
bool FromReceiver(LinkEventKind kind)
{
    return kind == LinkEventKind::ByteReceived || kind == LinkEventKind::FrameCompleted ||
           kind == LinkEventKind::ErrorRaised || kind == LinkEventKind::EventsDropped;
}

// What the receiver must hold and count, as the protocol rules say.
struct ReceiverModel {
    std::array<std::uint8_t, kRxBufferSize> buffer{};
    unsigned index = 0;
    unsigned frameStart = 0;
    bool blockComplete = false;
    bool injectedBlock = false;
    std::uint8_t errors = 0;
    std::uint32_t framesReceived = 0;
    // Frames counted and not yet taken by the supervisor, as they arrived.
    std::deque<Bytes> counted;
    // Send Packet frames handed over and not yet taken.
    std::deque<Bytes> waiting;

    std::uint8_t At(unsigned i) const { return i < kRxBufferSize ? buffer[i] : 0; }

    void Count(unsigned start, unsigned end)
    {
        counted.emplace_back(buffer.begin() + start, buffer.begin() + end);
        ++framesReceived;
    }

    // A hand-made frame is taken only between blocks.
    void ApplyHandOvers()
    {
        if (index != 0 || blockComplete || errors != 0 || waiting.empty()) {
            return;
        }
        const Bytes frame = waiting.front();
        waiting.pop_front();
        std::copy(frame.begin(), frame.end(), buffer.begin());
        blockComplete = true;
        injectedBlock = true;
        Count(0, static_cast<unsigned>(frame.size()));
    }

    void Reset(bool clearErrors, bool clearHead)
    {
        index = 0;
        frameStart = 0;
        blockComplete = false;
        injectedBlock = false;
        if (clearHead) {
            std::fill_n(buffer.begin(), kClearedHead, 0);
        }
        if (clearErrors) {
            errors = 0;
        }
        ApplyHandOvers();
    }

    // One pass that found a byte waiting; returns the bytes it must take.
    unsigned Pass(bool linkEnabled, bool readFails, std::uint8_t next)
    {
        if (blockComplete) {
            if (!linkEnabled || injectedBlock) {
                return 0;
            }
            errors |= kRxByteDuringCompleteBlock;
            return 1;
        }
        // Past the end, or wrapped round onto the frames already counted.
        if (index >= kRxBufferSize || index < frameStart) {
            errors |= kRxOverflow;
        } else {
            if (readFails) {
                return 1;
            }
            buffer[index] = next;
            if (index == frameStart) {
                if (!IsValidFunctionCode(next)) {
                    errors |= kRxBadFunctionCode;
                }
            } else if (index == frameStart + 1 && next > kMaxFrameDataLength) {
                errors |= kRxBadLength;
            }
        }
        index = (index + 1) % 256;
        if (errors != 0 || frameStart + 1 >= kRxBufferSize) {
            return 1;
        }
        const unsigned end = frameStart + buffer[frameStart + 1] + kFrameOverhead;
        if (index == end) {
            Count(frameStart, end);
            if ((buffer[frameStart] & kLastFrameBit) != 0) {
                blockComplete = true;
                frameStart = 0;
                index = 0;
            } else {
                frameStart = end;
            }
        }
        return 1;
    }
};

class Run {
public:
    explicit Run(std::uint32_t start) : clock(start), lastSynch_(start)
    {
        engine.SetLinkEnabled(true);
        engine.SetObserver(&log_);
    }

    ReceiveResult Pass()
    {
        const bool found = !port.queryFails && !port.input.empty();
        const std::uint8_t next = found ? port.input.front() : 0;
        const std::size_t takenBefore = port.bytesTaken;
        const ReceiveResult result = engine.receiver().ReceivePass();
        model_.ApplyHandOvers();
        if (!found) {
            QUILLON_FUZZ_CHECK(result == ReceiveResult::NoInput);
            QUILLON_FUZZ_CHECK(port.bytesTaken == takenBefore);
        } else {
            const unsigned storedAt = model_.index;
            const unsigned taken = model_.Pass(engine.linkEnabled(), port.readFails, next);
            lastRxTick_ = clock.now;
            QUILLON_FUZZ_CHECK(port.bytesTaken - takenBefore == taken);
            QUILLON_FUZZ_CHECK(result == (taken == 0 ? ReceiveResult::Held : ReceiveResult::ByteHandled));
            QUILLON_FUZZ_CHECK(engine.receiver().lastByteTick() == clock.now);
            QUILLON_FUZZ_CHECK(engine.receiver().ByteAt(storedAt) == model_.At(storedAt));
        }
        CheckReceiver();
        return result;
    }

    void Inject(std::uint8_t code, const Bytes& data)
    {
        const Bytes frame =
            EncodeFrame(code, std::span(data).first(std::min<std::size_t>(data.size(), kMaxFrameDataLength)));
        if (engine.receiver().Inject(frame)) {
            model_.waiting.push_back(frame);
            model_.ApplyHandOvers();
        } else {
            // Refused only while others wait their turn.
            QUILLON_FUZZ_CHECK(!model_.waiting.empty());
        }
        CheckReceiver();
    }

    void Tick() { Supervise(true); }
    void Answer() { Supervise(false); }

    void SetSynchRequired(bool required)
    {
        engine.SetSynchRequired(required);
        synchRequired_ = required;
        replyMode_ = required ? kSingleByteReplyMode : kFramedReplyMode;
    }

    ScriptedPort port;
    StepClock clock;
    PanelEngine engine{port, clock};

private:
    void CheckReceiver()
    {
        const FrameReceiver& receiver = engine.receiver();
        QUILLON_FUZZ_CHECK(receiver.framesReceived() == model_.framesReceived);
        QUILLON_FUZZ_CHECK(receiver.errors() == model_.errors);
        QUILLON_FUZZ_CHECK((receiver.errors() & ~kStatusErrorMask) == 0);
    }

    // A tick, or with tick false the answer to a complete block; then what
    // was written and reported is held against the model.
    void Supervise(bool tick)
    {
        const bool enabled = engine.linkEnabled();
        const bool synchDue =
            tick && enabled && synchRequired_ && needSync_ && clock.now - lastSynch_ > kSynchIntervalMs;
        keyBits_ = engine.keys().bits();
        const bool released = engine.keys().released();
        const std::uint64_t runsBefore = engine.display().changeCount();

        if (tick) {
            engine.Tick();
        } else {
            engine.AnswerCompleteBlock();
        }

        const std::vector<Bytes>& writes = port.writes;
        const std::vector<LinkEvent>& events = log_.events;
        expected_.clear();
        if (synchDue) {
            lastSynch_ = clock.now;
            expected_.emplace_back(kSynchRequest.begin(), kSynchRequest.end());
        }
        std::size_t executed = 0;
        if (enabled) {
            status_ = static_cast<std::uint8_t>((keyBits_ << kStatusKeyShift) | (status_ & kStatusErrorMask));
            if (!ProcessFrames(events, executed) && tick) {
                CheckTimeouts(runsBefore);
            }
        }
        QUILLON_FUZZ_CHECK(executed == Count(events, LinkEventKind::FrameExecuted));
        QUILLON_FUZZ_CHECK(writes == expected_);
        CheckReports(events);
        QUILLON_FUZZ_CHECK(engine.replyMode() == replyMode_);
        if (released && writes.size() > (synchDue ? 1u : 0u)) {
            QUILLON_FUZZ_CHECK(engine.keys().bits() == 0);
        }
        // The head of the buffer, which the long status reply clears; every
        // other byte is checked as it is stored and as its frame is taken.
        for (unsigned i = 0; i < kClearedHead; ++i) {
            QUILLON_FUZZ_CHECK(engine.receiver().ByteAt(i) == model_.buffer[i]);
        }
        CheckReceiver();
        port.writes.clear();
        log_.events.clear();
    }

    static std::size_t Count(const std::vector<LinkEvent>& events, LinkEventKind kind)
    {
        return static_cast<std::size_t>(
            std::count_if(events.begin(), events.end(), [kind](const LinkEvent& e) { return e.kind == kind; }));
    }

    // Every frame counted reaches the supervisor as it arrived; a block is
    // answered at its last frame. Returns whether any frame was taken.
    bool ProcessFrames(const std::vector<LinkEvent>& events, std::size_t& executed)
    {
        bool any = false;
        auto next = events.begin();
        while (!model_.counted.empty()) {
            any = true;
            const Bytes frame = model_.counted.front();
            model_.counted.pop_front();
            next = std::find_if(next, events.end(),
                                [](const LinkEvent& e) { return e.kind == LinkEventKind::FrameExecuted; });
            QUILLON_FUZZ_CHECK(next != events.end());
            const LinkEvent& event = *next++;
            ++executed;
            QUILLON_FUZZ_CHECK(std::equal(frame.begin(), frame.end(), event.bytes().begin(), event.bytes().end()));
            QUILLON_FUZZ_CHECK(event.frameErrors == DisplayController::ValidateFrame(frame));
            status_ |= event.frameErrors;
            QUILLON_FUZZ_CHECK(event.executed == ((status_ & kStatusErrorMask) == 0));
            QUILLON_FUZZ_CHECK((event.commandErrors & ~kStatusFrameError) == 0);
            if (event.executed) {
                needSync_ = false;
                status_ |= event.commandErrors;
                if ((frame[0] & kFunctionCodeMask) == kSetContrastAndReplyMode) {
                    replyMode_ = static_cast<std::uint16_t>(frame[3] | (frame[4] << 8));
                }
            } else {
                QUILLON_FUZZ_CHECK(event.commandErrors == 0);
            }
            if ((frame[0] & kLastFrameBit) != 0) {
                Reply((frame[0] & kFunctionCodeMask) == kSetContrastAndReplyMode, false);
            }
        }
        return any;
    }

    void CheckTimeouts(std::uint64_t runsBefore)
    {
        if (lastRxTick_ == 0) {
            lastRxTick_ = clock.now;
        }
        const std::uint32_t quiet = clock.now - lastRxTick_;
        if (model_.errors != 0) {
            if (quiet > kErrorQuietMs) {
                status_ |= kStatusFrameError;
                // The reply looks at the frame being received.
                Reply((model_.At(model_.frameStart) & kFunctionCodeMask) == kSetContrastAndReplyMode, true);
                lastRxTick_ = 0;
            }
            return;
        }
        if (quiet > kSilenceMs) {
            // "Communications Error" replaces the display.
            QUILLON_FUZZ_CHECK(engine.display().changeCount() > runsBefore);
            status_ = kSilenceStatus;
            Reply(false, false);
            lastRxTick_ = 0;
            needSync_ = true;
        }
    }

    void Reply(bool codeFourteen, bool clearErrors)
    {
        CheckStatusNibble(status_);
        if (replyMode_ == kSingleByteReplyMode) {
            expected_.push_back({status_});
        } else if (codeFourteen) {
            const auto frame = LongStatusFrame(status_);
            expected_.emplace_back(frame.begin(), frame.end());
        } else {
            const auto frame = ShortStatusFrame(status_);
            expected_.emplace_back(frame.begin(), frame.end());
        }
        // The key goes out with the reply; once let go it is cleared, and
        // whatever is still latched goes with the next reply, even within
        // the same tick.
        if (engine.keys().released()) {
            keyBits_ = 0;
        }
        status_ = static_cast<std::uint8_t>(keyBits_ << kStatusKeyShift);
        model_.Reset(clearErrors, codeFourteen && replyMode_ != kSingleByteReplyMode);
    }

    // The replies and requests reported are the ones written; a time-out is
    // reported just before its reply.
    void CheckReports(const std::vector<LinkEvent>& events) const
    {
        std::size_t written = 0;
        for (std::size_t i = 0; i < events.size(); ++i) {
            const LinkEvent& event = events[i];
            if (event.kind == LinkEventKind::ReplySent || event.kind == LinkEventKind::SynchRequestSent) {
                QUILLON_FUZZ_CHECK(written < expected_.size());
                const Bytes& bytes = expected_[written++];
                QUILLON_FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), event.bytes().begin(), event.bytes().end()));
                QUILLON_FUZZ_CHECK((event.kind == LinkEventKind::SynchRequestSent) == IsSynchRequest(bytes));
            }
            if (event.kind == LinkEventKind::TimeoutReply) {
                // The receiver's own events may come between the two.
                const auto reply = std::find_if(events.begin() + static_cast<std::ptrdiff_t>(i) + 1, events.end(),
                                                [](const LinkEvent& e) { return !FromReceiver(e.kind); });
                QUILLON_FUZZ_CHECK(reply != events.end() && reply->kind == LinkEventKind::ReplySent);
                QUILLON_FUZZ_CHECK(reply->timeout == event.timeout && event.timeout != LinkTimeout::None);
            }
        }
        QUILLON_FUZZ_CHECK(written == expected_.size());
    }

    ReceiverModel model_;
    EventLog log_;
    std::vector<Bytes> expected_;
    std::uint8_t status_ = 0;
    // The latched key as the supervisor last merged it into the status.
    std::uint8_t keyBits_ = 0;
    std::uint16_t replyMode_ = kFramedReplyMode;
    bool synchRequired_ = false;
    bool needSync_ = true;
    // Clock value of construction or of the last synchronisation request.
    std::uint32_t lastSynch_;
    std::uint32_t lastRxTick_ = 0;
};

// A well-formed frame built from the input, so that blocks with valid
// checksums reach the display controller often.
Bytes MakeFrame(ByteScript& input)
{
    const std::uint8_t code = input.Byte();
    return EncodeFrame(code, input.Take(input.Below(kMaxFrameDataLength + 1)), (code & kLastFrameBit) != 0);
}

void FuzzOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteScript input(data, size);
    Run run(input.Long());

    while (!input.AtEnd()) {
        switch (NextOperation<LinkOp>(input)) {
        case LinkOp::Feed:
            run.port.Feed(input.Take(input.Below(64) + 1));
            break;
        case LinkOp::FeedFrame:
            run.port.Feed(MakeFrame(input));
            break;
        case LinkOp::Passes:
            // A pass that found nothing has applied every hand-over it could;
            // the ones after it would find the same.
            for (unsigned n = input.Byte() + 1u; n > 0 && run.Pass() != ReceiveResult::NoInput; --n) {
            }
            break;
        case LinkOp::Tick:
            run.Tick();
            break;
        case LinkOp::Step:
            run.clock.now += input.Byte();
            break;
        case LinkOp::LongStep:
            run.clock.now += input.Word() % 20001;
            break;
        case LinkOp::ToggleLink:
            run.engine.SetLinkEnabled(!run.engine.linkEnabled());
            break;
        case LinkOp::Keys:
            PressKeysFrom(run.engine.keys(), input.Byte());
            break;
        case LinkOp::SynchMode:
            run.SetSynchRequired((input.Byte() & 1) != 0);
            break;
        case LinkOp::PortFaults: {
            const std::uint8_t faults = input.Byte();
            run.port.queryFails = (faults & 1) != 0;
            run.port.readFails = (faults & 2) != 0;
            run.port.writeFails = (faults & 4) != 0;
            break;
        }
        case LinkOp::LineRate:
            // The device at full line rate: about ten bytes per 10 ms tick.
            for (unsigned n = input.Below(50) + 1; n > 0; --n) {
                for (int i = 0; i < 10 && run.Pass() != ReceiveResult::NoInput; ++i) {
                }
                run.clock.now += 10;
                run.Tick();
            }
            break;
        case LinkOp::Answer:
            run.Answer();
            break;
        case LinkOp::Inject: {
            const std::uint8_t code = input.Byte();
            run.Inject(code, input.Take(input.Below(kMaxFrameDataLength + 1)));
            break;
        }
        case LinkOp::OnePass:
        case LinkOp::Count:
            run.Pass();
            break;
        }
    }
}

} // namespace
} // namespace quillon::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    quillon::fuzzing::FuzzOneInput(data, size);
    return 0;
}
