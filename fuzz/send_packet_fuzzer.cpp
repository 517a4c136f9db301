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

#include "fuzz/send_packet_check.h"

namespace quillon::fuzzing {
namespace {

// One press of Send and the tick that follows it.
void SendAndTick(Engine& e, const Selections& selections)
{
    const Composed frame = Compose(selections);
    const std::uint8_t checksum =
        e.link.InjectFrame(frame.code, frame.data.data(), static_cast<std::uint8_t>(frame.data.size()));
    CheckSendAndTick(e, frame, checksum);
}

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
            engine.WaitAndTick(input.Word());
            break;
        case kKeys:
            engine.view.PressKeysFrom(input.Byte());
            break;
        case kSynchMode:
            SetSynchRequired(engine.state, (input.Byte() & 1) != 0);
            break;
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
