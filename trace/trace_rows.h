#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "display/display_memory.h"
#include "link/link_events.h"

namespace quillon {

enum class TraceDirection : std::uint8_t { Device, Panel };

enum class TraceKind : std::uint8_t {
    // A frame the device sent, as the panel took it.
    Frame,
    // Bytes that made no frame: a receive error, or a frame cut off.
    Bytes,
    // A reply of the panel.
    Reply,
    // The panel's synchronisation request.
    Sync,
    // Something about the log itself: events lost on the way.
    Note,
    // A fault injected on purpose into what crossed the line.
    Fault,
};

// One row of the protocol log: one frame in either direction, or the bytes
// of a receive error, told in the system's own terms.
struct TraceRow {
    std::uint64_t number = 0;
    // Microseconds since the log's start.
    std::uint64_t timeUs = 0;
    TraceDirection direction = TraceDirection::Device;
    TraceKind kind = TraceKind::Frame;
    std::uint32_t block = 0;
    // A note of the port opened, not opened or hung up: which.
    std::optional<PortChange> port;
    std::vector<std::uint8_t> bytes;
    // Frames: the function code without bit 7, and its name; -1 and empty
    // for the other kinds.
    int code = -1;
    std::string name;
    std::string meaning;
    // Empty when nothing is wrong.
    std::string error;
    // Frames: the engine's frame number (the display memory's writer) and
    // the display area the frame's runs covered.
    std::uint32_t frame = 0;
    DisplayRect changed;
    bool executed = false;
    bool injected = false;
    // Replies: the status byte.
    std::uint8_t status = 0;
    // Faults: the kind ("drop-reply"), the rule that asked for it, and what
    // crossed the line instead of bytes (the bytes meant).
    std::string fault;
    std::string rule;
    std::vector<std::uint8_t> sent;
};

const char* DirectionName(TraceDirection direction);
const char* KindName(TraceKind kind);

// Turns the engine's events into rows as they happen. Receive errors and cut
// frames are gathered and given as one row when the panel answers them.
class TraceBuilder final : public LinkObserver {
public:
    using Sink = std::function<void(const TraceRow&)>;

    // startUs is the engine clock's microseconds at the start of the log.
    TraceBuilder(std::uint64_t startUs, Sink sink);
    void OnLinkEvent(const LinkEvent& event) override;

private:
    void Emit(TraceRow row);
    // What every row of an event shares: its time, kind, side, block and
    // the bytes that crossed the line; then one builder for each kind.
    TraceRow BaseRow(const LinkEvent& event, TraceKind kind, TraceDirection direction) const;
    TraceRow FrameRow(const LinkEvent& event);
    TraceRow ReplyRow(const LinkEvent& event);
    TraceRow DroppedNote(const LinkEvent& event) const;
    TraceRow PortNote(const LinkEvent& event) const;
    TraceRow FaultRow(const LinkEvent& event) const;
    void FlushPendingBytes(const LinkEvent& answeredBy);
    // A byte taken, or bytes refused and counted.
    void GatherRefused(const LinkEvent& event, std::uint32_t count);
    std::uint64_t Since(std::uint64_t timeUs) const { return timeUs >= startUs_ ? timeUs - startUs_ : 0; }

    std::uint64_t startUs_;
    Sink sink_;
    std::uint64_t rows_ = 0;
    // Bytes of the frame in progress, with the time of the first of them
    // and the receive errors they raised.
    static constexpr std::uint64_t kRefusedRowUs = 100'000;
    static constexpr std::size_t kShownRefusedBytes = 64;
    std::vector<std::uint8_t> pending_;
    std::uint32_t pendingCount_ = 0;
    std::uint64_t pendingTimeUs_ = 0;
    std::uint32_t pendingBlock_ = 0;
    std::uint8_t pendingErrors_ = 0;
    // Times the receiver completed frames the supervisor has not yet taken.
    std::deque<std::uint64_t> completedUs_;
    // Rows of faults on device bytes, waiting for the rows of earlier times.
    std::deque<TraceRow> heldFaults_;
    LinkTimeout timeout_ = LinkTimeout::None;
};

// Why the panel answered without a complete block, in words: "no byte for
// 10 s: Communications Error"; empty for LinkTimeout::None.
std::string TimeoutText(LinkTimeout timeout);
// What a fault did, in words: "reply dropped (fault drop-reply every 3)".
std::string DescribeFault(const LinkEvent& event);
// What crossed the line in place of the bytes a fault event names.
std::vector<std::uint8_t> FaultSentBytes(const LinkEvent& event);

// The readable trace line of a row:
//   "   1234.567  device  block 3    81 03 00 00 41 C6  WRITE STRING ...  ! error"
std::string FormatTextRow(const TraceRow& row);
// The JSON Lines form of a row: t, dir, kind, block, bytes, code, name,
// meaning, error (null when none), for frames frame and injected, and for
// faults fault, rule and sent.
std::string FormatJsonRow(const TraceRow& row);
// A string as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

} // namespace quillon
