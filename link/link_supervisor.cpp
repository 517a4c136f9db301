#include "link/link_supervisor.h"

#include <algorithm>
#include <array>

namespace quillon {

namespace {

// Synchronisation requests go out at intervals of more than this.
constexpr std::uint32_t kSynchIntervalMs = 2000;
// A receive error is answered once the line has been quiet for longer than
// this, so the device has finished sending whatever it sent.
constexpr std::uint32_t kErrorQuietMs = 120;
// Silence longer than this means the device is gone.
constexpr std::uint32_t kSilenceMs = 10000;

constexpr char kCommunicationsError[] = "Communications Error";
constexpr std::uint8_t kCommunicationsErrorAttribute = 11; // page 3, size 1
constexpr std::uint8_t kCommunicationsErrorColumn = 4;

} // namespace

LinkSupervisor::LinkSupervisor(FrameReceiver& receiver, DisplayController& display, KeyLatch& keys, PanelPort& port,
                               Clock& clock, EventStream& events)
    : receiver_(receiver), display_(display), keys_(keys), port_(port), clock_(clock), events_(events),
      lastSyncTick_(clock.NowMs())
{
}

void LinkSupervisor::SetSynchRequired(bool required)
{
    synchNotRequired_ = !required;
    replyMode_ = required ? kSingleByteReplyMode : kFramedReplyMode;
}

void LinkSupervisor::Tick()
{
    if (!receiver_.linkEnabled()) {
        events_.Drain();
        return;
    }
    if (!synchNotRequired_ && needSync_ && clock_.NowMs() - lastSyncTick_ > kSynchIntervalMs) {
        lastSyncTick_ = clock_.NowMs();
        SendSynchRequest();
    }
    MergeKeyBits();
    if (replyHeld_) {
        // The block stays complete until then: what the device sends
        // meanwhile is refused, and no time-out runs.
        if (clock_.NowMs() - replyHeldSince_ >= replyHoldMs_) {
            replyHeld_ = false;
            SendReply(true, {}, LinkTimeout::None);
        }
    } else if (!ProcessFrames()) {
        CheckTimeouts();
    }
    events_.Drain();
}

void LinkSupervisor::AnswerCompleteBlock()
{
    if (!receiver_.linkEnabled()) {
        return;
    }
    MergeKeyBits();
    ProcessFrames();
    events_.Drain();
}

void LinkSupervisor::MergeKeyBits()
{
    status_ = static_cast<std::uint8_t>((keys_.bits() << kStatusKeyShift) | (status_ & kStatusErrorMask));
}

LinkEvent LinkSupervisor::Event(LinkEventKind kind)
{
    LinkEvent event;
    event.kind = kind;
    event.timeMs = clock_.NowMs();
    event.timeUs = clock_.NowMicros();
    event.block = repliesSent_ + 1;
    return event;
}

bool LinkSupervisor::ProcessFrames()
{
    if (framesProcessed_ == receiver_.framesReceived()) {
        return false;
    }
    do {
        ++framesProcessed_;
        // The frame is copied out of the receive buffer: the receiver never
        // writes over a frame it has counted, so the copy is the frame.
        std::array<std::uint8_t, kRxBufferSize> frame{};
        receiver_.CopyOut(frameCursor_, frame);

        const std::uint8_t frameErrors = DisplayController::ValidateFrame(frame);
        status_ |= frameErrors;
        // The nibble is not cleared between the frames of a block, so one bad
        // frame keeps the rest of its block from being carried out.
        const bool runs = (status_ & kStatusErrorMask) == 0;
        CommandResult result;
        if (runs) {
            needSync_ = false;
            result = display_.ExecuteFrame(frame, framesProcessed_);
            status_ |= result.errors;
            if (result.replyMode) {
                replyMode_ = *result.replyMode;
            }
        }
        if (events_.observed()) {
            LinkEvent event = Event(LinkEventKind::FrameExecuted);
            event.SetBytes(std::span(frame).first(std::min<std::size_t>(frame[1] + kFrameOverhead, frame.size())));
            event.frame = framesProcessed_;
            event.frameErrors = frameErrors;
            event.executed = runs;
            event.commandErrors = result.errors;
            event.changed = result.changed;
            event.injected = framesProcessed_ == receiver_.lastInjectedFrame();
            events_.Emit(event);
        }

        if ((frame[0] & kLastFrameBit) != 0) {
            replyHoldMs_ = port_.ReplyHoldMs();
            events_.EmitHeld();
            if (replyHoldMs_ == 0) {
                SendReply(true, {}, LinkTimeout::None);
            } else {
                replyHeld_ = true;
                replyHeldSince_ = clock_.NowMs();
            }
        } else {
            frameCursor_ = static_cast<std::uint8_t>(frameCursor_ + frame[1] + kFrameOverhead);
        }
    } while (framesProcessed_ != receiver_.framesReceived());
    return true;
}

std::uint32_t LinkSupervisor::LastRxTick()
{
    const std::uint32_t activity = receiver_.activity();
    if (activity != seenActivity_) {
        seenActivity_ = activity;
        lastRxTick_ = receiver_.lastByteTick();
    }
    return lastRxTick_;
}

std::uint32_t LinkSupervisor::QuietMs()
{
    // The reader stamps a byte with its own reading of the clock, which can
    // come after this thread's: a byte stamped a millisecond "ahead" is quiet
    // of 0 ms, not of the 49 days an unsigned difference would make of it.
    // The difference stays signed so that the tick counter's wrap is crossed.
    const auto quiet = static_cast<std::int32_t>(clock_.NowMs() - LastRxTick());
    return quiet > 0 ? static_cast<std::uint32_t>(quiet) : 0;
}

void LinkSupervisor::CheckTimeouts()
{
    if (LastRxTick() == 0) {
        lastRxTick_ = clock_.NowMs();
    }

    if (receiver_.errors() != 0) {
        if (QuietMs() <= kErrorQuietMs) {
            return;
        }
        status_ |= kStatusFrameError;
        SendReply(true, {.clearErrors = true}, LinkTimeout::ReceiveError);
        lastRxTick_ = 0;
        return;
    }

    if (QuietMs() <= kSilenceMs || port_.LineEnded()) {
        return;
    }
    display_.PutString(kCommunicationsError, kCommunicationsErrorAttribute, kCommunicationsErrorColumn, true);
    status_ = kSilenceStatus;
    SendReply(false, {}, LinkTimeout::Silence);
    lastRxTick_ = 0;
    needSync_ = true;
}

void LinkSupervisor::SendReply(bool answersFrame, FrameReceiver::ResetRequest reset, LinkTimeout timeout)
{
    if (events_.observed()) {
        // Bytes of a flood counted rather than told belong before the reply.
        LinkEvent refused = Event(LinkEventKind::BytesRefused);
        refused.value = receiver_.TakeUntoldRefused(refused.rxErrors);
        if (refused.value != 0) {
            events_.Emit(refused);
        }
    }
    const std::uint8_t status = status_;
    std::array<std::uint8_t, LongStatusFrame(0).size()> reply{};
    std::size_t replyLength = 0;
    if (replyMode_ == kSingleByteReplyMode) {
        reply[0] = status;
        replyLength = 1;
    } else if (answersFrame && (receiver_.ByteAt(frameCursor_) & kFunctionCodeMask) == kSetContrastAndReplyMode) {
        reset.clearHead = true;
        const auto frame = LongStatusFrame(status);
        std::copy(frame.begin(), frame.end(), reply.begin());
        replyLength = frame.size();
    } else {
        const auto frame = ShortStatusFrame(status);
        std::copy(frame.begin(), frame.end(), reply.begin());
        replyLength = frame.size();
    }

    if (timeout != LinkTimeout::None && events_.observed()) {
        LinkEvent event = Event(LinkEventKind::TimeoutReply);
        event.timeout = timeout;
        events_.Emit(event);
    }

    // The block is released before the reply goes out: a device on a line
    // without transmission delay (a virtual port) sends its next block the
    // moment the reply reaches it, and the receiver must already be waiting
    // for it at index 0.
    receiver_.RequestReset(reset);
    frameCursor_ = 0;
    status_ = 0;

    port_.Write(reply.data(), replyLength);

    if (events_.observed()) {
        LinkEvent event = Event(LinkEventKind::ReplySent);
        event.SetBytes(std::span(reply).first(replyLength));
        event.status = status;
        event.timeout = timeout;
        events_.Emit(event);
    }
    ++repliesSent_;
    keys_.AfterReply();
    // A block the device sends the moment this reply reaches it may be
    // answered before the next tick: its status must carry the latch too.
    MergeKeyBits();
}

void LinkSupervisor::SendSynchRequest()
{
    port_.Write(kSynchRequest.data(), kSynchRequest.size());
    if (events_.observed()) {
        LinkEvent event = Event(LinkEventKind::SynchRequestSent);
        event.SetBytes(kSynchRequest);
        events_.Emit(event);
    }
}

} // namespace quillon
