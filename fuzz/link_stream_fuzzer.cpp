// Any byte stream from the device, interleaved with supervisor ticks, clock
// steps, key presses, link pauses, mode switches and port faults, all chosen
// by the input. Beside the engine runs a model of the receiver and of the
// reply obligations, written from the protocol rules alone; after every step
// the engine must agree with it, and every block must get exactly one reply.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/harness.h"
#include "link/panel_link.h"

namespace quillon::fuzzing {
namespace {

constexpr unsigned kBufferSize = kRxBufferSize;
// Each frame is at least three bytes long, so a block holds at most 40.
constexpr unsigned kMaxFramesPerBlock = kBufferSize / 3;

// What the device side of the link is owed, as the protocol rules say.
struct LinkModel {
    std::array<std::uint8_t, kBufferSize> buffer{};
    unsigned index = 0;
    unsigned frameStart = 0;
    unsigned framesReceived = 0;
    unsigned framesProcessed = 0;
    bool blockComplete = false;
    std::uint8_t errors = 0;
    // Start of the block's last frame once the block is complete.
    unsigned lastFrameStart = 0;
    std::uint32_t lastRxTick = 0;

    std::uint8_t At(unsigned i) const { return i < kBufferSize ? buffer[i] : 0; }

    // One pass of the reader that found bytes waiting. Returns how many bytes
    // the reader must have taken from the port.
    unsigned Pass(bool linkEnabled, bool readFails, std::uint8_t next, std::uint32_t now)
    {
        lastRxTick = now;
        if (blockComplete) {
            if (!linkEnabled) {
                return 0;
            }
            errors |= kRxByteDuringCompleteBlock;
            return 1;
        }
        // Past the end, or wrapped round onto the frames already counted.
        if (index >= kBufferSize || index < frameStart) {
            errors |= kRxOverflow;
        } else {
            if (readFails) {
                return 1;
            }
            buffer[index] = next;
            const std::uint8_t code = next & 0x7F;
            if (index == frameStart) {
                if (code == 0 || code > kHighestFunctionCode) {
                    errors |= kRxBadFunctionCode;
                }
            } else if (index == frameStart + 1 && next > kMaxFrameDataLength) {
                errors |= kRxBadLength;
            }
        }
        index = (index + 1) % 256;
        if (errors != 0 || frameStart + 1 >= kBufferSize) {
            return 1;
        }
        const unsigned end = frameStart + buffer[frameStart + 1] + 3;
        if (index == end) {
            ++framesReceived;
            if ((buffer[frameStart] & kLastFrameBit) != 0) {
                lastFrameStart = frameStart;
                blockComplete = true;
                frameStart = 0;
                index = 0;
            } else {
                frameStart = end;
            }
        }
        return 1;
    }

    void Reset()
    {
        framesReceived = 0;
        framesProcessed = 0;
        frameStart = 0;
        index = 0;
        blockComplete = false;
    }
};

enum class Expected { Nothing, BlockReply, ErrorReply, SilenceReply };

class Run {
public:
    explicit Run(std::uint32_t start) : clock(start), lastSynch_(start) { state.linkEnabled = 1; }

    void Feed(const std::vector<std::uint8_t>& bytes)
    {
        port.input.insert(port.input.end(), bytes.begin(), bytes.end());
    }

    // One pass of the engine's reader, mirrored in the model.
    void Pass()
    {
        const bool waiting = !port.queryFails && !port.input.empty();
        const std::uint8_t next = waiting ? port.input.front() : 0;
        const std::size_t takenBefore = port.bytesTaken;
        const ReceiveResult result = link.ReceivePass();
        if (!waiting) {
            QUILLON_FUZZ_CHECK(result == ReceiveResult::NoInput);
        } else {
            const unsigned taken = model.Pass(state.linkEnabled != 0, port.readFails, next, clock.now);
            QUILLON_FUZZ_CHECK(port.bytesTaken - takenBefore == taken);
            QUILLON_FUZZ_CHECK(result == (taken == 0 ? ReceiveResult::Held : ReceiveResult::ByteHandled));
        }
        CheckState();
    }

    void Tick()
    {
        const std::size_t writesBefore = port.writes.size();
        const std::uint8_t keyNibble = static_cast<std::uint8_t>(view.keyBits << 4);
        const Expected expected = Predict();
        const bool synchMayGoOut = state.synchNotRequired == 0 && link.needSync != 0;

        link.LinkTick();

        std::vector<std::vector<std::uint8_t>> written(port.writes.begin() + writesBefore, port.writes.end());
        port.writes.resize(writesBefore);
        if (!written.empty() && IsSynchRequest(written.front())) {
            QUILLON_FUZZ_CHECK(synchMayGoOut);
            QUILLON_FUZZ_CHECK(clock.now - lastSynch_ > 2000);
            lastSynch_ = clock.now;
            written.erase(written.begin());
        }
        QUILLON_FUZZ_CHECK(written.size() == (expected == Expected::Nothing ? 0u : 1u));
        if (expected != Expected::Nothing) {
            CheckReply(expected, written.front(), keyNibble);
        }
        CheckState();
    }

    void CheckState()
    {
        const DisplayWork& work = state.work;
        const unsigned rxIndex = work.rxIndex.load();
        const unsigned frameStart = work.rxFrameStart.load();
        const unsigned received = work.framesReceived.load();
        QUILLON_FUZZ_CHECK(rxIndex == model.index);
        QUILLON_FUZZ_CHECK(frameStart == model.frameStart);
        QUILLON_FUZZ_CHECK(received == model.framesReceived);
        QUILLON_FUZZ_CHECK((work.blockComplete.load() != 0) == model.blockComplete);
        QUILLON_FUZZ_CHECK(state.rxErrors.load() == model.errors);
        QUILLON_FUZZ_CHECK(state.lastRxTick.load() == model.lastRxTick);
        for (unsigned i = 0; i < kBufferSize; ++i) {
            QUILLON_FUZZ_CHECK(state.rxBuffer[i] == model.buffer[i]);
        }

        // Bounds that hold whatever the model says.
        QUILLON_FUZZ_CHECK(frameStart <= kBufferSize);
        QUILLON_FUZZ_CHECK(received <= kMaxFramesPerBlock);
        QUILLON_FUZZ_CHECK(work.framesProcessed <= received);
        QUILLON_FUZZ_CHECK(work.framesProcessed == model.framesProcessed);
        if (state.rxErrors.load() == 0) {
            QUILLON_FUZZ_CHECK(frameStart <= rxIndex && rxIndex <= kBufferSize);
        }
        if (work.blockComplete.load() != 0) {
            QUILLON_FUZZ_CHECK(rxIndex == 0 && frameStart == 0);
        } else {
            // The supervisor never runs ahead of the receiver.
            QUILLON_FUZZ_CHECK(work.frameCursor <= frameStart);
        }
        // The cursor rests one past the end of the buffer only after a
        // non-last frame that filled it, and no frame is read from there.
        QUILLON_FUZZ_CHECK(work.frameCursor <= kBufferSize);
        if (work.frameCursor == kBufferSize) {
            QUILLON_FUZZ_CHECK(work.framesProcessed == received);
        }
        QUILLON_FUZZ_CHECK((state.rxErrors.load() & ~0x0F) == 0);
        CheckStatusNibble(state.status);
    }

    LinkState state;
    CheckedView view;
    ScriptedPort port;
    StepClock clock;
    LinkModel model;

private:
    // Which reply, if any, this tick owes the device.
    Expected Predict()
    {
        if (state.linkEnabled == 0) {
            return Expected::Nothing;
        }
        if (model.framesProcessed != model.framesReceived) {
            model.framesProcessed = model.framesReceived;
            return model.blockComplete ? Expected::BlockReply : Expected::Nothing;
        }
        if (model.lastRxTick == 0) {
            model.lastRxTick = clock.now;
        }
        const std::uint32_t quiet = clock.now - model.lastRxTick;
        if (model.errors != 0) {
            return quiet > 120 ? Expected::ErrorReply : Expected::Nothing;
        }
        return quiet > 10000 ? Expected::SilenceReply : Expected::Nothing;
    }

    void CheckReply(Expected expected, const std::vector<std::uint8_t>& bytes, std::uint8_t keyNibble)
    {
        const bool singleByte = state.replyMode == kSingleByteReplyMode;
        const Reply reply = ParseReply(bytes, singleByte);
        CheckStatusNibble(reply.status);
        switch (expected) {
        case Expected::BlockReply: {
            QUILLON_FUZZ_CHECK((reply.status & 0xF0) == keyNibble);
            const bool long14 = (model.At(model.lastFrameStart) & 0x7F) == kSetContrastAndReplyMode;
            QUILLON_FUZZ_CHECK(singleByte || (reply.form == ReplyForm::LongFrame) == long14);
            break;
        }
        case Expected::ErrorReply: {
            QUILLON_FUZZ_CHECK((reply.status & 0xF0) == keyNibble);
            QUILLON_FUZZ_CHECK((reply.status & kStatusFrameError) != 0);
            // The cursor rests on the start of the frame being received.
            const bool long14 = (model.At(model.frameStart) & 0x7F) == kSetContrastAndReplyMode;
            QUILLON_FUZZ_CHECK(singleByte || (reply.form == ReplyForm::LongFrame) == long14);
            model.errors = 0;
            model.lastRxTick = 0;
            break;
        }
        case Expected::SilenceReply:
            QUILLON_FUZZ_CHECK(reply.status == 0x01);
            QUILLON_FUZZ_CHECK(singleByte || reply.form == ReplyForm::ShortFrame);
            model.lastRxTick = 0;
            break;
        case Expected::Nothing:
            break;
        }
        if (reply.form == ReplyForm::LongFrame) {
            for (unsigned i = 0; i < 8; ++i) {
                model.buffer[i] = 0;
            }
        }
        model.Reset();
        if (view.keyReleased) {
            QUILLON_FUZZ_CHECK(view.keyBits == 0);
        }
    }

    // Clock value of construction or of the last synchronisation request.
    std::uint32_t lastSynch_;

public:
    CPanelLink link{state, view, port, clock};
};

// A well-formed frame built from the input, so that blocks with valid
// checksums reach the display controller often.
std::vector<std::uint8_t> MakeFrame(ByteScript& input)
{
    std::vector<std::uint8_t> frame;
    frame.push_back(input.Byte());
    const auto data = input.Bytes(input.Below(kMaxFrameDataLength + 1));
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(FrameChecksum(frame.data(), frame.size()));
    return frame;
}

// Operations of the script; each is followed by its arguments.
enum Operation : unsigned {
    kFeed,       // count - 1, then the bytes the device sends
    kFeedFrame,  // code byte, data length, data: a frame with its checksum
    kPasses,     // count - 1: passes of the reader
    kTick,       // one supervisor tick
    kStep,       // milliseconds (one byte)
    kLongStep,   // milliseconds (16 bits, up to 20 000)
    kToggleLink, // the Comms Port dialog pausing or resuming the link
    kKeys,       // key value index, released flag in bit 4
    kSynchMode,  // bit 0: "Synch. Required" on
    kPortFaults, // bit 0 status query fails, bit 1 reads fail, bit 2 writes fail
    kLineRate,   // count - 1: 10 ms slices of ten reader passes and a tick
    kOnePass,    // one pass of the reader
    kOperations
};

void FuzzOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteScript input(data, size);
    Run run(input.Long());

    while (!input.AtEnd()) {
        switch (input.Below(kOperations)) {
        case kFeed:
            run.Feed(input.Bytes(input.Below(64) + 1));
            break;
        case kFeedFrame:
            run.Feed(MakeFrame(input));
            break;
        case kPasses:
            for (unsigned n = input.Byte() + 1u; n > 0; --n) {
                run.Pass();
            }
            break;
        case kTick:
            run.Tick();
            break;
        case kStep:
            run.clock.now += input.Byte();
            break;
        case kLongStep:
            run.clock.now += input.Word() % 20001;
            break;
        case kToggleLink:
            run.state.linkEnabled = run.state.linkEnabled == 0 ? 1 : 0;
            break;
        case kKeys:
            run.view.PressKeysFrom(input.Byte());
            break;
        case kSynchMode:
            SetSynchRequired(run.state, (input.Byte() & 1) != 0);
            break;
        case kPortFaults: {
            const std::uint8_t b = input.Byte();
            run.port.queryFails = (b & 1) != 0;
            run.port.readFails = (b & 2) != 0;
            run.port.writeFails = (b & 4) != 0;
            break;
        }
        case kLineRate:
            // The device at full line rate: about ten bytes per 10 ms tick.
            for (unsigned n = input.Below(50) + 1; n > 0; --n) {
                for (int i = 0; i < 10; ++i) {
                    run.Pass();
                }
                run.clock.now += 10;
                run.Tick();
            }
            break;
        default:
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
