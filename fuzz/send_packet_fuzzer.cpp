// Every selection of the Send Packet dialog (function code, length, the 25
// data lists, "Write String" with any text) composed into a frame and handed
// to the engine through the injection path, interleaved with ticks, clock
// steps, keys, reply-mode switches and link pauses. Every Send is carried out
// as composed and answered by exactly one reply once the link runs, an
// injected frame never carries a checksum error, and a frame that breaks its
// length rule is refused and draws nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/scripts.h"
#include "fuzz/send_packet_check.h"

namespace quillon::fuzzing {
namespace {

// One press of Send and the tick that follows it.
void SendAndTick(Engine& e, const Selections& selections)
{
    const Composed frame = Compose(selections);
    const std::optional<std::uint8_t> checksum = e.panel.InjectFrame(frame.code, frame.data);
    CheckSendAndTick(e, frame, checksum);
}

void FuzzOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteScript input(data, size);
    Engine engine(input.Long());
    Selections selections;

    while (!input.AtEnd()) {
        switch (NextOperation<SendPacketOp>(input)) {
        case SendPacketOp::SelectFunction:
            selections.functionIndex = input.Below(kFunctionCodeEntries);
            break;
        case SendPacketOp::SelectLength:
            selections.lengthIndex = input.Below(kDataLists);
            break;
        case SendPacketOp::SelectData: {
            const unsigned list = input.Below(kDataLists);
            selections.data[list] = input.Byte();
            break;
        }
        case SendPacketOp::Text: {
            selections.writeString = (input.Byte() & 1) != 0;
            const auto text = input.Take(input.Below(kMaxTextLength + 1));
            selections.text.assign(text.begin(), text.end());
            break;
        }
        case SendPacketOp::Wait:
            engine.WaitAndTick(input.Word());
            break;
        case SendPacketOp::Keys:
            PressKeysFrom(engine.panel.keys(), input.Byte());
            break;
        case SendPacketOp::SynchMode:
            engine.panel.SetSynchRequired((input.Byte() & 1) != 0);
            break;
        case SendPacketOp::ToggleLink:
            engine.panel.SetLinkEnabled(!engine.panel.linkEnabled());
            break;
        case SendPacketOp::Send:
        case SendPacketOp::Count:
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
