// Every selection of the Send Packet dialog (function code, length, the 25
// data lists, "Write String" with any text) composed into a frame and fed to
// the supervisor through the injection path, interleaved with ticks, clock
// steps, keys and reply-mode switches. Every Send is answered by exactly one
// reply at the next tick, an injected frame never carries a checksum error,
// a frame that breaks its length rule is refused and draws nothing, and the
// display is only ever written inside 128 x 64.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "link/panel_link.h"

namespace quillon::fuzzing {
namespace {

constexpr std::size_t kDataLists = 25;
constexpr std::size_t kFunctionCodeEntries = 10;
// The text field takes at most this many characters, so the frame fits the
// receive buffer.
constexpr std::size_t kMaxTextLength = 115;

struct Selections {
    std::size_t functionIndex = 0; // entry k stands for function code k + 1
    std::size_t lengthIndex = 0;   // entry i stands for length i + 1
    std::array<std::uint8_t, kDataLists> data{};
    bool writeString = false;
    std::string text;
};

// The frame's code and data bytes as Send composes them; the injection path
// adds the last-frame bit, the length byte and the checksum.
struct Composed {
    std::uint8_t code;
    std::vector<std::uint8_t> data;
};

Composed Compose(const Selections& s)
{
    const auto code = static_cast<std::uint8_t>(s.functionIndex + 1);
    // Function code 4 forces the length list to "1".
    const std::size_t length = code == kBlankArea ? 1 : s.lengthIndex + 1;
    if (code == kWriteString && s.writeString) {
        std::vector<std::uint8_t> data{s.data[0], s.data[1]};
        data.insert(data.end(), s.text.begin(), s.text.end());
        return {code, data};
    }
    return {code, std::vector<std::uint8_t>(s.data.begin(), s.data.begin() + length)};
}

// Whether validation lets a frame of this code and data length through.
bool LengthAllowed(std::uint8_t code, std::size_t length)
{
    switch (code) {
    case kWriteString:
        return length >= 3 && length <= 23;
    case kWriteArray:
        return length >= 3 && length <= 117;
    case kSetupDisplay:
    case kBlankArea:
    case kReadSwitches:
    case kSetContrast:
        return length == 1;
    case kDrawSliderBar:
        return length >= 5 && length <= 8;
    case kWriteFrameHeader:
        return length >= 1 && length <= 21;
    case kDrawAndRepeat:
        return length >= 4 && length <= 117;
    default:
        return false;
    }
}

struct Engine {
    explicit Engine(std::uint32_t start) : clock(start) { state.linkEnabled = 1; }

    LinkState state;
    CheckedView view;
    ScriptedPort port;
    StepClock clock;
    CPanelLink link{state, view, port, clock};
};

// One press of Send and the tick that follows it.
void SendAndTick(Engine& e, const Selections& selections)
{
    const Composed frame = Compose(selections);
    QUILLON_FUZZ_CHECK(frame.data.size() <= kMaxFrameDataLength);
    const auto length = static_cast<std::uint8_t>(frame.data.size());

    const std::uint8_t checksum = e.link.InjectFrame(frame.code, frame.data.data(), length);

    std::vector<std::uint8_t> expected{static_cast<std::uint8_t>(frame.code | kLastFrameBit), length};
    expected.insert(expected.end(), frame.data.begin(), frame.data.end());
    expected.push_back(FrameChecksum(expected.data(), expected.size()));
    QUILLON_FUZZ_CHECK(checksum == expected.back());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QUILLON_FUZZ_CHECK(e.state.rxBuffer[i] == expected[i]);
    }
    QUILLON_FUZZ_CHECK(e.state.work.rxIndex.load() == expected.size());
    QUILLON_FUZZ_CHECK(e.state.work.rxFrameStart.load() == expected.size());
    QUILLON_FUZZ_CHECK(e.state.work.framesReceived.load() == 1);

    const std::size_t runsBefore = e.view.runs;
    const std::uint8_t keyNibble = static_cast<std::uint8_t>(e.view.keyBits << 4);
    const std::size_t writesBefore = e.port.writes.size();
    e.link.LinkTick();
    std::vector<std::vector<std::uint8_t>> written(e.port.writes.begin() + writesBefore, e.port.writes.end());
    e.port.writes.resize(writesBefore);
    if (!written.empty() && IsSynchRequest(written.front())) {
        written.erase(written.begin());
    }

    if (e.state.linkEnabled == 0) {
        QUILLON_FUZZ_CHECK(written.empty());
        return;
    }
    QUILLON_FUZZ_CHECK(written.size() == 1);
    const Reply reply = ParseReply(written.front(), e.state.replyMode == kSingleByteReplyMode);
    CheckStatusNibble(reply.status);
    QUILLON_FUZZ_CHECK((reply.status & kStatusChecksumError) == 0);
    QUILLON_FUZZ_CHECK((reply.status & 0xF0) == keyNibble);
    if (!LengthAllowed(frame.code, length)) {
        QUILLON_FUZZ_CHECK((reply.status & kStatusFrameError) != 0);
        QUILLON_FUZZ_CHECK(e.view.runs == runsBefore);
    } else if (frame.code == kReadSwitches || frame.code == kSetContrast) {
        QUILLON_FUZZ_CHECK((reply.status & kStatusErrorMask) == 0);
        QUILLON_FUZZ_CHECK(e.view.runs == runsBefore);
    }
    QUILLON_FUZZ_CHECK(e.state.work.rxIndex.load() == 0);
    QUILLON_FUZZ_CHECK(e.state.work.framesReceived.load() == 0);
    QUILLON_FUZZ_CHECK(e.state.work.frameCursor == 0);
    QUILLON_FUZZ_CHECK(e.state.status == 0);
}

constexpr std::uint8_t kKeyValues[] = {0, 1, 2, 4, 8};

// Operations of the script; each is followed by its arguments.
enum Operation : unsigned {
    kSelectFunction, // function code list index
    kSelectLength,   // length list index
    kSelectData,     // data list index, byte value
    kText,           // bit 0: "Write String" checked; text length; the text
    kWait,           // milliseconds (16 bits, up to 20 000), then a tick
    kKeys,           // key value index, released flag in bit 4
    kSynchMode,      // bit 0: "Synch. Required" on
    kToggleLink,     // the Comms Port dialog pausing or resuming the link
    kSend,           // Send, then a tick
    kOperations
};

void FuzzOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteScript input(data, size);
    Engine engine(input.Long());
    Selections selections;

    while (!input.AtEnd()) {
        switch (input.Below(kOperations)) {
        case kSelectFunction:
            selections.functionIndex = input.Below(kFunctionCodeEntries);
            break;
        case kSelectLength:
            selections.lengthIndex = input.Below(kDataLists);
            break;
        case kSelectData: {
            const unsigned list = input.Below(kDataLists);
            selections.data[list] = input.Byte();
            break;
        }
        case kText: {
            selections.writeString = (input.Byte() & 1) != 0;
            const auto text = input.Bytes(input.Below(kMaxTextLength + 1));
            selections.text.assign(text.begin(), text.end());
            break;
        }
        case kWait:
            engine.clock.now += input.Word() % 20001;
            engine.link.LinkTick();
            engine.port.writes.clear();
            break;
        case kKeys: {
            const std::uint8_t b = input.Byte();
            engine.view.keyBits = kKeyValues[b % 5];
            engine.view.keyReleased = (b & 0x10) != 0;
            break;
        }
        case kSynchMode: {
            const bool synchRequired = (input.Byte() & 1) != 0;
            engine.state.synchNotRequired = synchRequired ? 0 : 1;
            engine.state.replyMode = synchRequired ? kSingleByteReplyMode : kFramedReplyMode;
            break;
        }
        case kToggleLink:
            engine.state.linkEnabled = engine.state.linkEnabled == 0 ? 1 : 0;
            break;
        default:
            SendAndTick(engine, selections);
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
