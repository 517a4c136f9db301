#pragma once

#include <cstdint>

// The operations of each target's input script, in one place, so the targets
// and the seed writer (fuzz/make_seeds.cpp) can never disagree on them. Each
// operation byte is followed by the arguments named beside it.

namespace quillon::fuzzing {

// display_fuzzer
enum class DisplayOp : std::uint8_t {
    RawFrame,      // count (up to 120), the bytes of a frame as they arrived
    Frame,         // code byte (bit 7 kept), data length, data: a frame with its checksum
    CutFrame,      // as Frame, then how many of its bytes arrived
    PutString,     // attribute, column, bit 0: clear first, text length (below 32), text
    StartupScreen, //
    Count
};

// link_fuzzer
enum class LinkOp : std::uint8_t {
    Feed,       // count - 1 (below 64), then the bytes the device sends
    FeedFrame,  // code byte, data length, data: a frame with its checksum
    Passes,     // count - 1: passes of the receiver
    Tick,       // one supervisor tick
    Step,       // milliseconds (one byte)
    LongStep,   // milliseconds (16 bits, up to 20 000)
    ToggleLink, // the Comms Port dialog pausing or resuming the link
    Keys,       // key value index, let go in bit 4
    SynchMode,  // bit 0: "Synch. Required" on
    PortFaults, // bit 0 status query fails, bit 1 reads fail, bit 2 writes fail
    LineRate,   // count - 1 (below 50): 10 ms slices of ten receiver passes and a tick
    OnePass,    // one pass of the receiver
    Answer,     // the answer to a complete block, without waiting for the tick
    Inject,     // function code, data length, data: a Send Packet frame
    Count
};

// send_packet_fuzzer
enum class SendPacketOp : std::uint8_t {
    SelectFunction, // function code list index
    SelectLength,   // length list index
    SelectData,     // data list index, byte value
    Text,           // bit 0: "Write String" checked; text length; the text
    Wait,           // milliseconds (16 bits, up to 20 000), then a tick
    Keys,           // key value index, let go in bit 4
    SynchMode,      // bit 0: "Synch. Required" on
    ToggleLink,     // the Comms Port dialog pausing or resuming the link
    Send,           // Send, then a tick
    Count
};

// send_packet_dialog_fuzzer
enum class DialogOp : std::uint8_t {
    ChooseFunction,    // function code list index
    ChooseLength,      // length list index
    ChooseData,        // data list index, byte value
    ClickWriteString,  //
    Type,              // text length (up to 20 more than the field takes), the text
    ClickAutoChecksum, //
    ChooseChecksum,    // byte value
    Wait,              // milliseconds (16 bits, up to 20 000), then a tick
    Keys,              // key value index, let go in bit 4
    Send,              // Send, then a tick
    Count
};

} // namespace quillon::fuzzing
