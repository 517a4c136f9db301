#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "display/display_memory.h"
#include "protocol/protocol.h"

namespace quillon {

// What happened on the link, for monitors, trace files and recorders.
enum class LinkEventKind : std::uint8_t {
    // A byte taken from the port (byte, time of the pass that took it).
    ByteReceived,
    // The receiver counted a frame (bytes; injected for a Send Packet frame).
    FrameCompleted,
    // The receiver raised receive error bits (rxErrors; byte that raised them).
    ErrorRaised,
    // The supervisor took a frame: validated it and, with a clean status,
    // carried it out (bytes, frameErrors, executed, commandErrors, changed).
    FrameExecuted,
    // A reply went to the port (bytes, status, timeout when a time-out sent it).
    ReplySent,
    // The synchronisation request went to the port (bytes).
    SynchRequestSent,
    // A time-out fired; its reply follows as ReplySent (timeout).
    TimeoutReply,
    // Events the reader could not queue since the last report (dropped; value:
    // the device's bytes among them; time and block: of the first lost).
    EventsDropped,
    // Bytes the receiver refused, told as a count while its queue is filling
    // rather than a byte at a time (value: how many; rxErrors: the bits).
    BytesRefused,
    // A fault asked for on purpose changed what crossed the line (fault,
    // effect, rule, bytes as they were meant, value, byte).
    FaultInjected,
    // The front end opened its port, could not open it (value: the set-up
    // step that failed), found it hung up or opened it again (port; value
    // for an open: the stale bytes the port dropped).
    PortChanged,
};

// What became of the port under the link.
enum class PortChange : std::uint8_t {
    Opened,
    OpenFailed,
    // The line hung up: the far end closed, or the device went away.
    HungUp,
    // The port answers again after a hang-up.
    OpenedAgain,
    // The device the program started on the port's far end has ended; the
    // port stays as it was.
    DeviceEnded,
};

enum class LinkTimeout : std::uint8_t {
    None,
    // A receive error answered after 120 ms of quiet.
    ReceiveError,
    // 10 s without a byte: "Communications Error" and status 0x01.
    Silence,
};

// The faults a line can be given on purpose, to test how a device recovers.
enum class FaultKind : std::uint8_t {
    DropReply,
    CorruptReply,
    DelayReply,
    TruncateReply,
    DropByte,
    FlipBit,
    Unplug,
    // Not on the line: the panel itself holds a complete block before it
    // answers, as a slow panel does.
    HoldReply,
};

// What a fault did to the line.
enum class FaultEffect : std::uint8_t {
    ReplyDropped,
    // value: the index of the byte changed; byte: its new value.
    ReplyCorrupted,
    // value: the delay in milliseconds.
    ReplyDelayed,
    // value: the bytes that were sent.
    ReplyCut,
    ByteDropped,
    // value: the bit flipped; byte: the byte as the receiver got it.
    BitFlipped,
    // value: how long the line stays dead, in milliseconds.
    LineUnplugged,
    // A reply or request written while the line is dead.
    ReplyLost,
    // value: the device's bytes lost while the line was dead.
    LineBack,
    // A reply held back has left for the device; value: how long it was
    // held, in milliseconds.
    HeldReplySent,
    // The panel holds the block it has just completed before answering it;
    // value: for how long, in milliseconds.
    BlockHeld,
};

struct LinkEvent {
    LinkEventKind kind = LinkEventKind::ByteReceived;
    // The engine clock's milliseconds when it happened, and the same moment
    // in microseconds for time stamps.
    std::uint32_t timeMs = 0;
    std::uint64_t timeUs = 0;
    // The block the event belongs to: replies sent before it, plus one.
    std::uint32_t block = 0;
    std::uint8_t byte = 0;
    // ErrorRaised: the receive error bits raised.
    std::uint8_t rxErrors = 0;
    // FrameExecuted: status error bits validation found (checksum, length or
    // code), whether the frame ran, and the bits its command raised.
    std::uint8_t frameErrors = 0;
    bool executed = false;
    std::uint8_t commandErrors = 0;
    // FrameExecuted: the frame's number, counted from 1 since the start; the
    // display memory names it as the writer of the columns it drew.
    std::uint32_t frame = 0;
    // FrameCompleted, FrameExecuted: the frame came from Send Packet.
    bool injected = false;
    // ReplySent: the status byte it carried.
    std::uint8_t status = 0;
    LinkTimeout timeout = LinkTimeout::None;
    // FrameExecuted: the display area its runs covered.
    DisplayRect changed;
    std::uint32_t dropped = 0;
    // FaultInjected: which fault, what it did, the rule that asked for it
    // (as the user would write it, NUL-terminated) and the effect's value.
    FaultKind fault = FaultKind::DropReply;
    FaultEffect effect = FaultEffect::ReplyDropped;
    std::array<char, 48> rule{};
    std::uint32_t value = 0;
    // PortChanged: what became of the port.
    PortChange port = PortChange::HungUp;
    // The frame, reply or request, length bytes of it.
    std::array<std::uint8_t, kRxBufferSize> data{};
    std::uint8_t length = 0;

    std::span<const std::uint8_t> bytes() const { return {data.data(), length}; }
    void SetBytes(std::span<const std::uint8_t> source);
};

// Where a stage on the line (a port wrapper) tells what it did to the
// bytes, so that its events reach the engine's observer in order with the
// engine's own. The engine fills in the block.
class LineEventSink {
public:
    virtual ~LineEventSink() = default;
    // From the reader thread, while it takes bytes from the port.
    virtual void TellFromReader(LinkEvent event) = 0;
    // From the ticking thread, inside a write: told right after the event
    // of what was written.
    virtual void TellFromWriter(LinkEvent event) = 0;
};

// Receives the engine's events on the thread that ticks the engine, in the
// order they happened.
class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    virtual void OnLinkEvent(const LinkEvent& event) = 0;
};

} // namespace quillon
