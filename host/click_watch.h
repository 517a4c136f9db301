#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "link/link_events.h"
#include "protocol/protocol.h"

namespace quillon {

// Follows a click through the replies. The device tells one click from the
// next by a reply between them that carries no key, so a click is over once
// one reply has carried its key to the device and a later one has reached it
// without. A reply a fault dropped, corrupted or cut (or the line lost) never
// reached the device: a carrying one loses the key as a real line would, and
// the click must then be made again, which Lost says once. A reply held back
// reaches the device when it leaves, not when it is written.
class ClickWatch {
public:
    explicit ClickWatch(std::uint8_t keyBit) : keyBit_(keyBit) {}
    void Take(const LinkEvent& event)
    {
        // What a fault did to a write is told right after the write itself.
        if (written_) {
            const Reply reply = *std::exchange(written_, std::nullopt);
            if (event.kind == LinkEventKind::FaultInjected && KeepsReplyFromDevice(event.effect)) {
                lost_ = lost_ || (phase_ == 0 && Carries(reply));
                return;
            }
            if (event.kind == LinkEventKind::FaultInjected && event.effect == FaultEffect::ReplyDelayed) {
                held_.push_back(reply);
                return;
            }
            Reached(reply);
        }
        if (event.kind == LinkEventKind::FaultInjected && event.effect == FaultEffect::HeldReplySent) {
            // Held replies leave in order; one held before the click began
            // is not among them.
            const Reply left(event.bytes().begin(), event.bytes().end());
            if (!held_.empty() && held_.front() == left) {
                held_.pop_front();
                Reached(left);
            }
        } else if (event.kind == LinkEventKind::ReplySent) {
            written_.emplace(event.bytes().begin(), event.bytes().end());
        }
    }
    // A reply written last, with no fault told after it, has reached the
    // device.
    bool done() const { return phase_ == 2 || (phase_ == 1 && written_ && !Carries(*written_)); }
    std::uint8_t keyBit() const { return keyBit_; }
    bool Lost()
    {
        const bool lost = lost_;
        lost_ = false;
        return lost;
    }

private:
    using Reply = std::vector<std::uint8_t>;

    static bool KeepsReplyFromDevice(FaultEffect effect)
    {
        return effect == FaultEffect::ReplyDropped || effect == FaultEffect::ReplyCorrupted ||
               effect == FaultEffect::ReplyCut || effect == FaultEffect::ReplyLost;
    }
    bool Carries(const Reply& reply) const { return ((ReplyStatus(reply) >> kStatusKeyShift) & keyBit_) != 0; }
    void Reached(const Reply& reply)
    {
        if (Carries(reply) ? phase_ == 0 : phase_ == 1) {
            ++phase_;
        }
    }

    std::uint8_t keyBit_;
    int phase_ = 0;
    std::optional<Reply> written_;
    std::deque<Reply> held_;
    bool lost_ = false;
};

} // namespace quillon
