#include "trace/trace_rows.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "link/fault_rules.h"
#include "protocol/protocol.h"
#include "trace/frame_decoder.h"

namespace quillon {

namespace {

std::string Milliseconds(std::uint64_t timeUs)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%llu.%03llu", static_cast<unsigned long long>(timeUs / 1000),
                  static_cast<unsigned long long>(timeUs % 1000));
    return text.data();
}

// What a port found queued from before it opened and dropped, so that a
// device polling a closed line does not start the run with refused bytes:
// ", 12 stale bytes dropped", or nothing.
std::string StaleBytesDropped(std::uint32_t count)
{
    if (count == 0) {
        return {};
    }
    return ", " + std::to_string(count) + (count == 1 ? " stale byte dropped" : " stale bytes dropped");
}

} // namespace

std::string TimeoutText(LinkTimeout timeout)
{
    switch (timeout) {
    case LinkTimeout::ReceiveError:
        return "receive error answered after 120 ms of quiet";
    case LinkTimeout::Silence:
        return "no byte for 10 s: Communications Error";
    case LinkTimeout::None:
        break;
    }
    return {};
}

const char* DirectionName(TraceDirection direction)
{
    return direction == TraceDirection::Device ? "device" : "panel";
}

const char* KindName(TraceKind kind)
{
    switch (kind) {
    case TraceKind::Frame:
        return "frame";
    case TraceKind::Bytes:
        return "bytes";
    case TraceKind::Reply:
        return "reply";
    case TraceKind::Sync:
        return "sync";
    case TraceKind::Note:
        return "note";
    case TraceKind::Fault:
        return "fault";
    }
    return "";
}

std::string DescribeFault(const LinkEvent& event)
{
    const std::string meant = HexBytes(event.bytes());
    const std::string sent = HexBytes(FaultSentBytes(event));
    std::string what;
    switch (event.effect) {
    case FaultEffect::ReplyDropped:
        what = "reply dropped";
        break;
    case FaultEffect::ReplyCorrupted:
        what = "reply corrupted: sent as " + sent;
        break;
    case FaultEffect::ReplyDelayed:
        what = "reply held back " + std::to_string(event.value) + " ms";
        break;
    case FaultEffect::ReplyCut:
        what = "reply cut to " + std::to_string(event.value) + " of " + std::to_string(event.length) + " bytes";
        break;
    case FaultEffect::ByteDropped:
        what = "device byte " + meant + " dropped";
        break;
    case FaultEffect::BitFlipped:
        what = "device byte " + meant + " taken as " + sent + " (bit " + std::to_string(event.value) + " flipped)";
        break;
    case FaultEffect::LineUnplugged:
        what = "line unplugged for " + std::to_string(event.value) + " ms";
        break;
    case FaultEffect::ReplyLost:
        what = "reply not sent: the line is unplugged";
        break;
    case FaultEffect::LineBack:
        what = "line plugged back in; " + std::to_string(event.value) + " device bytes lost";
        break;
    case FaultEffect::HeldReplySent:
        what = "held reply sent, " + std::to_string(event.value) + " ms late";
        break;
    case FaultEffect::BlockHeld:
        what = "block held " + std::to_string(event.value) + " ms before its reply; bytes meanwhile are refused";
        break;
    }
    return what + " (fault " + FaultRuleWords(event.rule.data()) + ")";
}

std::vector<std::uint8_t> FaultSentBytes(const LinkEvent& event)
{
    const auto meant = event.bytes();
    std::vector<std::uint8_t> sent(meant.begin(), meant.end());
    switch (event.effect) {
    case FaultEffect::ReplyCorrupted:
        if (event.value < sent.size()) {
            sent[event.value] = event.byte;
        }
        return sent;
    case FaultEffect::ReplyCut:
        sent.resize(std::min<std::size_t>(event.value, sent.size()));
        return sent;
    case FaultEffect::BitFlipped:
        return {event.byte};
    case FaultEffect::ReplyDelayed:
    case FaultEffect::HeldReplySent:
        return sent;
    default:
        return {};
    }
}

TraceBuilder::TraceBuilder(std::uint64_t startUs, Sink sink) : startUs_(startUs), sink_(std::move(sink))
{
}

void TraceBuilder::Emit(TraceRow row)
{
    // A fault on a device byte is told as the byte arrives, before the rows
    // of frames that completed earlier but are carried out only now: it
    // waits for the first row that is not earlier than itself.
    if (row.kind == TraceKind::Fault && row.direction == TraceDirection::Device) {
        heldFaults_.push_back(std::move(row));
        return;
    }
    while (!heldFaults_.empty() && heldFaults_.front().timeUs <= row.timeUs) {
        heldFaults_.front().number = ++rows_;
        sink_(heldFaults_.front());
        heldFaults_.pop_front();
    }
    row.number = ++rows_;
    sink_(row);
}

void TraceBuilder::FlushPendingBytes(const LinkEvent& answeredBy)
{
    if (pending_.empty() && pendingErrors_ == 0) {
        return;
    }
    TraceRow row;
    row.timeUs = Since(pendingTimeUs_ != 0 ? pendingTimeUs_ : answeredBy.timeUs);
    row.direction = TraceDirection::Device;
    row.kind = TraceKind::Bytes;
    row.block = pendingBlock_ != 0 ? pendingBlock_ : answeredBy.block;
    row.bytes = std::move(pending_);
    if (pendingErrors_ != 0) {
        row.meaning = "bytes refused by the receiver";
        if (pendingCount_ > row.bytes.size()) {
            row.meaning += ": " + std::to_string(pendingCount_) + " bytes, the first " +
                           std::to_string(row.bytes.size()) + " shown";
        }
        row.error = DescribeRxErrors(pendingErrors_);
    } else {
        row.meaning = "bytes of a frame that never completed";
        row.error = "incomplete frame dropped";
    }
    pending_.clear();
    pendingCount_ = 0;
    pendingErrors_ = 0;
    pendingTimeUs_ = 0;
    pendingBlock_ = 0;
    Emit(std::move(row));
}

void TraceBuilder::GatherRefused(const LinkEvent& event, std::uint32_t count)
{
    // A flood of bytes that make no frame is told a row every 100 ms, not
    // only when the panel answers it, which a flood never lets it do.
    if (pendingErrors_ != 0 && event.timeUs - pendingTimeUs_ >= kRefusedRowUs) {
        FlushPendingBytes(event);
    }
    if (pendingCount_ == 0 && pending_.empty()) {
        pendingTimeUs_ = event.timeUs;
        pendingBlock_ = event.block;
    }
    if (event.kind == LinkEventKind::ByteReceived && pending_.size() < kShownRefusedBytes) {
        pending_.push_back(event.byte);
    }
    pendingCount_ += count;
    pendingErrors_ |= event.rxErrors;
}

void TraceBuilder::OnLinkEvent(const LinkEvent& event)
{
    switch (event.kind) {
    case LinkEventKind::ByteReceived:
        GatherRefused(event, 1);
        break;
    case LinkEventKind::BytesRefused:
        GatherRefused(event, event.value);
        break;
    case LinkEventKind::ErrorRaised:
        if (pending_.empty()) {
            pendingTimeUs_ = event.timeUs;
            pendingBlock_ = event.block;
        }
        pendingErrors_ |= event.rxErrors;
        break;
    case LinkEventKind::FrameCompleted:
        completedUs_.push_back(event.timeUs);
        // The bytes gathered so far were this frame; a frame injected by hand
        // has no bytes on the line.
        if (!event.injected) {
            pending_.clear();
            pendingCount_ = 0;
            pendingTimeUs_ = 0;
        }
        break;
    case LinkEventKind::FrameExecuted:
        Emit(FrameRow(event));
        break;
    case LinkEventKind::TimeoutReply:
        timeout_ = event.timeout;
        break;
    case LinkEventKind::ReplySent:
        // Bytes of a later block are the device's answer to this reply,
        // taken before the reply was told: they wait for their own frame.
        if (pendingBlock_ <= event.block) {
            FlushPendingBytes(event);
        }
        Emit(ReplyRow(event));
        break;
    case LinkEventKind::SynchRequestSent: {
        TraceRow row = BaseRow(event, TraceKind::Sync, TraceDirection::Panel);
        row.meaning = DescribeReply(event.bytes());
        Emit(std::move(row));
        break;
    }
    case LinkEventKind::EventsDropped:
        Emit(DroppedNote(event));
        break;
    case LinkEventKind::PortChanged:
        Emit(PortNote(event));
        break;
    case LinkEventKind::FaultInjected:
        Emit(FaultRow(event));
        break;
    }
}

TraceRow TraceBuilder::BaseRow(const LinkEvent& event, TraceKind kind, TraceDirection direction) const
{
    TraceRow row;
    row.timeUs = Since(event.timeUs);
    row.direction = direction;
    row.kind = kind;
    row.block = event.block;
    row.bytes.assign(event.bytes().begin(), event.bytes().end());
    return row;
}

TraceRow TraceBuilder::FrameRow(const LinkEvent& event)
{
    TraceRow row = BaseRow(event, TraceKind::Frame, TraceDirection::Device);
    // A frame is told at the time its last byte arrived, not when it was
    // carried out.
    row.timeUs = Since(completedUs_.empty() ? event.timeUs : completedUs_.front());
    if (!completedUs_.empty()) {
        completedUs_.pop_front();
    }
    row.code = event.data[0] & kFunctionCodeMask;
    row.name = FunctionName(event.data[0]);
    row.meaning = DescribeFrame(event.bytes());
    row.error = DescribeFrameFaults(event.bytes());
    if (row.error.empty() && !event.executed) {
        row.error = "not carried out: an earlier frame of the block failed";
    }
    if (event.commandErrors != 0) {
        row.error = "frame error: a parameter was out of range and corrected or refused";
    }
    row.frame = event.frame;
    row.changed = event.changed;
    row.executed = event.executed;
    row.injected = event.injected;
    if (event.injected) {
        row.meaning += " [Send Packet]";
    }
    return row;
}

TraceRow TraceBuilder::ReplyRow(const LinkEvent& event)
{
    TraceRow row = BaseRow(event, TraceKind::Reply, TraceDirection::Panel);
    row.meaning = DescribeReply(event.bytes());
    row.error = TimeoutText(event.timeout != LinkTimeout::None ? event.timeout : timeout_);
    row.status = event.status;
    timeout_ = LinkTimeout::None;
    return row;
}

TraceRow TraceBuilder::DroppedNote(const LinkEvent& event) const
{
    TraceRow row = BaseRow(event, TraceKind::Note, TraceDirection::Device);
    row.meaning = "events lost on the way";
    row.error = std::to_string(event.dropped) + " events dropped: the log has a gap here";
    if (event.value != 0) {
        row.error += "; " + std::to_string(event.value) + " device bytes among them";
    }
    return row;
}

TraceRow TraceBuilder::PortNote(const LinkEvent& event) const
{
    TraceRow row = BaseRow(event, TraceKind::Note, TraceDirection::Device);
    row.port = event.port;
    switch (event.port) {
    case PortChange::Opened:
        row.meaning = "port opened" + StaleBytesDropped(event.value);
        break;
    case PortChange::OpenFailed:
        row.meaning = "port could not be opened";
        row.error = "set-up step " + std::to_string(event.value) + " failed";
        break;
    case PortChange::HungUp:
        row.meaning = "port hung up";
        row.error = "the line hung up; opening it again every second";
        break;
    case PortChange::OpenedAgain:
        row.meaning = "port opened again" + StaleBytesDropped(event.value);
        break;
    case PortChange::DeviceEnded:
        row.meaning = "the device ended";
        row.error = "the device the program started has ended; the panel keeps what it showed";
        break;
    }
    return row;
}

TraceRow TraceBuilder::FaultRow(const LinkEvent& event) const
{
    const bool onDeviceBytes = event.effect == FaultEffect::ByteDropped || event.effect == FaultEffect::BitFlipped;
    TraceRow row = BaseRow(event, TraceKind::Fault, onDeviceBytes ? TraceDirection::Device : TraceDirection::Panel);
    row.meaning = DescribeFault(event);
    row.fault = FaultKindName(event.fault);
    row.rule = event.rule.data();
    row.sent = FaultSentBytes(event);
    return row;
}

std::string FormatTextRow(const TraceRow& row)
{
    std::array<char, 64> head{};
    std::snprintf(head.data(), head.size(), "%12s  %-6s  block %-5u  ", Milliseconds(row.timeUs).c_str(),
                  DirectionName(row.direction), row.block);
    std::string line = head.data();
    line += HexBytes(row.bytes);
    line += "  ";
    line += row.meaning;
    if (!row.error.empty()) {
        line += "  ! ";
        line += row.error;
    }
    return line;
}

std::string JsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                std::array<char, 8> escaped{};
                std::snprintf(escaped.data(), escaped.size(), "\\u%04x", static_cast<unsigned>(c));
                quoted += escaped.data();
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

std::string FormatJsonRow(const TraceRow& row)
{
    std::string line = "{\"t\":" + Milliseconds(row.timeUs);
    line += ",\"dir\":" + JsonString(DirectionName(row.direction));
    line += ",\"kind\":" + JsonString(KindName(row.kind));
    line += ",\"block\":" + std::to_string(row.block);
    line += ",\"bytes\":" + JsonString(HexBytes(row.bytes));
    if (row.kind == TraceKind::Frame) {
        line += ",\"code\":" + std::to_string(row.code);
        line += ",\"name\":" + JsonString(row.name);
        line += ",\"frame\":" + std::to_string(row.frame);
        line += std::string(",\"injected\":") + (row.injected ? "true" : "false");
    }
    if (row.kind == TraceKind::Fault) {
        line += ",\"fault\":" + JsonString(row.fault);
        line += ",\"rule\":" + JsonString(row.rule);
        line += ",\"sent\":" + JsonString(HexBytes(row.sent));
    }
    line += ",\"meaning\":" + JsonString(row.meaning);
    line += ",\"error\":" + (row.error.empty() ? std::string("null") : JsonString(row.error));
    return line + "}";
}

} // namespace quillon
