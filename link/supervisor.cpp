#include <algorithm>
#include <array>

#include "link/frame.h"
#include "link/panel_link.h"

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
constexpr std::uint8_t kSilenceStatus = 0x01;

} // namespace

void CPanelLink::LinkTick()
{
    if (state_.linkEnabled.load() == 0) {
        return;
    }
    if (state_.synchNotRequired.load() == 0 && needSync != 0 && clock_.NowMs() - lastSyncTick > kSynchIntervalMs) {
        lastSyncTick = clock_.NowMs();
        SendSynchRequest();
    }
    MergeKeyBits();
    if (!ProcessFrames()) {
        CheckTimeouts();
    }
}

void CPanelLink::MergeKeyBits()
{
    state_.status = static_cast<std::uint8_t>((view_.GetKeyBits() << 4) | (state_.status & kStatusErrorMask));
}

bool CPanelLink::ProcessFrames()
{
    DisplayWork& work = state_.work;
    if (work.framesProcessed == work.framesReceived.load(std::memory_order_acquire)) {
        return false;
    }
    do {
        ++work.framesProcessed;
        if (ValidateFrame() == 0) {
            ExecuteFrame();
        }
        if ((state_.rxBuffer.At(work.frameCursor) & kLastFrameBit) != 0) {
            SendReply(true);
        } else {
            work.frameCursor = static_cast<std::uint8_t>(work.frameCursor + work.frameLength + 3);
        }
    } while (work.framesProcessed != work.framesReceived.load(std::memory_order_acquire));
    return true;
}

void CPanelLink::CheckTimeouts()
{
    std::uint32_t unset = 0;
    state_.lastRxTick.compare_exchange_strong(unset, clock_.NowMs());

    if (state_.rxErrors.load() != 0) {
        if (clock_.NowMs() - state_.lastRxTick.load() <= kErrorQuietMs) {
            return;
        }
        state_.status |= kStatusFrameError;
        state_.rxErrors.store(0);
        SendReply(true);
        state_.lastRxTick.store(0);
        return;
    }

    if (clock_.NowMs() - state_.lastRxTick.load() <= kSilenceMs) {
        return;
    }
    PutString(kCommunicationsError, kCommunicationsErrorAttribute, kCommunicationsErrorColumn, true);
    state_.status = kSilenceStatus;
    SendReply(false);
    state_.lastRxTick.store(0);
    needSync = 1;
}

void CPanelLink::SendReply(bool answersFrame)
{
    DisplayWork& work = state_.work;
    const std::uint8_t status = state_.status;
    std::array<std::uint8_t, LongStatusFrame(0).size()> reply{};
    std::size_t replyLength = 0;
    if (state_.replyMode.load() == kSingleByteReplyMode) {
        reply[0] = status;
        replyLength = 1;
    } else if (answersFrame && (state_.rxBuffer.At(work.frameCursor) & 0x7F) == kSetContrastAndReplyMode) {
        for (std::size_t i = 0; i < 8; ++i) {
            state_.rxBuffer.Set(i, 0);
        }
        const auto frame = LongStatusFrame(status);
        std::copy(frame.begin(), frame.end(), reply.begin());
        replyLength = frame.size();
    } else {
        const auto frame = ShortStatusFrame(status);
        std::copy(frame.begin(), frame.end(), reply.begin());
        replyLength = frame.size();
    }

    // The block is released before the reply goes out: a device on a line
    // without transmission delay (a virtual port) sends its next block the
    // moment the reply reaches it, and a reader still held off would drop
    // that block's first byte as a protocol error.
    work.framesReceived.store(0, std::memory_order_relaxed);
    work.framesProcessed = 0;
    work.rxFrameStart.store(0, std::memory_order_relaxed);
    work.frameCursor = 0;
    work.rxIndex.store(0, std::memory_order_relaxed);
    // Cleared after the indices: the reader resumes storing at index 0.
    work.blockComplete.store(0, std::memory_order_release);
    state_.status = 0;

    port_.Write(reply.data(), replyLength);

    if (view_.IsKeyReleased()) {
        view_.SetKeyBits(0);
    }
}

void CPanelLink::SendSynchRequest()
{
    port_.Write(kSynchRequest.data(), kSynchRequest.size());
}

} // namespace quillon
