#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/protocol.h"

namespace quillon::demo {

// How the panel answered a block.
enum class ReplyForm : std::uint8_t {
    SingleByte, // the bare status byte ("Synch. Required" mode)
    ShortFrame, // function code 5 carrying the status byte
    LongFrame,  // function code 14: the status byte and eight zero bytes
};

// Something complete that the panel sent.
struct PanelMessage {
    enum class Kind : std::uint8_t { Reply, SynchRequest };
    Kind kind = Kind::Reply;
    ReplyForm form = ReplyForm::SingleByte;
    // The status byte of a reply: the key in the high nibble, errors low.
    std::uint8_t status = 0;

    bool operator==(const PanelMessage&) const = default;
};

// Splits the byte stream from the panel into replies and synchronisation
// requests, whatever reply mode the panel is in. The first byte tells them
// apart, because a status byte never has bit 0x02 or 0x04 set: 0x05 starts a
// short status frame, 0x0E a long one, 0x32 a synchronisation request, and any
// byte that can be a status byte is a single-byte reply.
//
// Bytes that make none of these (a bad checksum, a wrong length, a byte that
// cannot be a status) are dropped and counted, whole frames at a time, so the
// inside of a damaged frame is never read as replies of its own. A frame
// left unfinished for longer than a byte gap is dropped the same way.
class ReplyParser {
public:
    // Silence within a frame after which its bytes so far are dropped. The
    // panel writes each reply in one go; even through a USB adapter, which
    // may hold bytes back for up to 16 ms, they arrive well within this gap.
    static constexpr std::uint32_t kByteGapMs = 40;

    // Takes one byte received at nowMs; returns a message when the byte
    // completes one.
    std::optional<PanelMessage> Feed(std::uint8_t byte, std::uint32_t nowMs);

    // Bytes dropped so far.
    std::uint32_t DroppedBytes() const { return dropped_; }

private:
    std::optional<PanelMessage> Start(std::uint8_t byte);
    void Drop(std::size_t count);

    // Room for the longest message, the long status frame.
    std::array<std::uint8_t, LongStatusFrame(0).size()> frame_{};
    std::size_t length_ = 0;   // bytes of the frame so far
    std::size_t expected_ = 0; // bytes of the whole frame
    std::uint32_t lastByteMs_ = 0;
    std::uint32_t dropped_ = 0;
};

// Whether a byte can be a status byte: no key or one of the four keys, and no
// error bits but 0x01 and 0x08.
bool IsStatusByte(std::uint8_t byte);

} // namespace quillon::demo
