#pragma once

#include <cstdint>

#include "display/display_controller.h"
#include "link/engine_interfaces.h"
#include "link/event_stream.h"
#include "link/frame_receiver.h"
#include "link/key_latch.h"
#include "protocol/protocol.h"

namespace quillon {

// The link supervisor, on the ticking thread: every 10 ms it sends the
// synchronisation request when one is due, has each frame the receiver
// counted validated and carried out, answers each block with one reply, and
// answers receive errors and silence when their time-outs pass.
class LinkSupervisor {
public:
    LinkSupervisor(FrameReceiver& receiver, DisplayController& display, KeyLatch& keys, PanelPort& port, Clock& clock,
                   EventStream& events);

    // The 10 ms tick.
    void Tick();
    // The frames of a block the receiver has just completed, without waiting
    // for the tick: the key bits and the frames, no time-outs.
    void AnswerCompleteBlock();

    // "Synch. Required" switches two things together: synchronisation
    // requests until the first good frame, and the single-byte reply.
    void SetSynchRequired(bool required);
    bool synchRequired() const { return !synchNotRequired_; }
    std::uint16_t replyMode() const { return replyMode_; }
    // Replies sent since the start.
    std::uint32_t repliesSent() const { return repliesSent_; }
    // The port's line has ended: the silence time-out is off.
    bool lineEnded() const { return port_.LineEnded(); }

private:
    void MergeKeyBits();
    bool ProcessFrames();
    void CheckTimeouts();
    void SendReply(bool answersFrame, FrameReceiver::ResetRequest reset, LinkTimeout timeout);
    void SendSynchRequest();
    // The clock value of the line's last activity: the receiver's, unless
    // the supervisor has set its own since.
    std::uint32_t LastRxTick();
    std::uint32_t QuietMs();
    LinkEvent Event(LinkEventKind kind);

    FrameReceiver& receiver_;
    DisplayController& display_;
    KeyLatch& keys_;
    PanelPort& port_;
    Clock& clock_;
    EventStream& events_;

    std::uint8_t status_ = 0;
    std::uint32_t framesProcessed_ = 0;
    // Offset in the receive buffer of the frame being processed.
    std::uint8_t frameCursor_ = 0;
    std::uint32_t repliesSent_ = 0;
    bool synchNotRequired_ = true;
    std::uint16_t replyMode_ = kFramedReplyMode;
    // Nonzero while synchronisation requests are wanted.
    bool needSync_ = true;
    // Clock value when the last synchronisation request went out.
    std::uint32_t lastSyncTick_;
    std::uint32_t lastRxTick_ = 0;
    std::uint32_t seenActivity_ = 0;
    // A slow panel's complete block, held before its reply: since when, and
    // for how long.
    bool replyHeld_ = false;
    std::uint32_t replyHeldSince_ = 0;
    std::uint32_t replyHoldMs_ = 0;
};

} // namespace quillon
