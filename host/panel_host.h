#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "display/screen_reader.h"
#include "link/fault_port.h"
#include "link/panel_engine.h"

namespace quillon::runner {

// What the host has seen of the link since it started.
struct LinkStats {
    std::uint32_t replies = 0;
    // Replies with an error bit in their status, and replies a time-out sent
    // (the 120 ms receive-error reply, the 10 s silence reply).
    std::uint32_t errorReplies = 0;
    std::uint32_t timeoutReplies = 0;
    std::uint32_t framesExecuted = 0;
    std::uint32_t synchRequests = 0;
    std::uint32_t eventsDropped = 0;
    // Bytes the receiver refused (they made no frame), and the receive errors
    // raised: a bad function code or length, bytes during a complete block,
    // an overflow of the receive buffer.
    std::uint32_t refusedBytes = 0;
    // Every byte the device sent, those in a gap of the event log included.
    std::uint64_t bytesReceived = 0;
    std::uint32_t receiveErrors = 0;
    std::uint8_t receiveErrorBits = 0;
    // Milliseconds from the process's start to the first reply; -1 before it.
    double firstReplyMs = -1;
    std::uint64_t ticks = 0;
    // How late a tick started after it was due, at worst, and the ticks that
    // started a whole period late or more.
    double worstTickLatenessMs = 0;
    std::uint64_t lateTicks = 0;
    // The longest a tick's own work took.
    double worstTickWorkMs = 0;
    // Faults injected on purpose, by kind (FaultKind's order).
    std::array<std::uint32_t, 8> faults{};
};

// What the screen reads, run by run ("MAIN MENU | Set point +42"), for a
// failure's message.
std::string ScreenReads(const std::vector<TextRun>& runs);

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

// The panel engine on the runner's one thread: ticks it every 10 ms, answers
// a complete block as soon as the reader says so, runs work posted from other
// threads, and tells listeners of the link's events. Everything but Post runs
// on the thread that calls Turn.
class PanelHost final : public LinkObserver {
public:
    using Listener = std::function<void(const LinkEvent&)>;
    using Moment = std::chrono::steady_clock::time_point;

    PanelHost(PanelPort& port, Clock& clock, Moment processStart);
    ~PanelHost() override;
    PanelHost(const PanelHost&) = delete;
    PanelHost& operator=(const PanelHost&) = delete;

    // Starts the link and draws the start-up screen.
    void Start(bool synchRequired);
    void Stop();

    // One turn of the loop: waits until the next tick is due, a block waits
    // for its reply or work was posted, and does what is due.
    void Turn();
    // Turns until done() holds (true), or until the moment passes (false).
    bool TurnUntil(const std::function<bool()>& done, Moment until);
    // Any thread.
    void Post(std::function<void()> work);
    // Run after every turn.
    void AddTurnHook(std::function<void()> hook) { turnHooks_.push_back(std::move(hook)); }

    int AddListener(Listener listener);
    // A listener that follows a click and makes it again when a fault kept
    // its key from the device.
    int FollowClick(std::shared_ptr<ClickWatch> click);
    void RemoveListener(int id);

    PanelEngine& engine() { return engine_; }
    // The faults between the engine and the line, told through the
    // engine's events; nothing when the line has none.
    void SetFaults(FaultPort* faults);
    FaultPort* faults() { return faults_; }
    const LinkStats& stats() const { return stats_; }
    // Milliseconds since the process started.
    double Elapsed() const;
    // The text on the display, read again only when the display has changed.
    const std::vector<TextRun>& ScreenText();

    void OnLinkEvent(const LinkEvent& event) override;

private:
    PanelEngine engine_;
    FaultPort* faults_ = nullptr;
    const Moment processStart_;
    Moment nextTick_;
    LinkStats stats_;

    std::mutex mutex_;
    std::condition_variable signal_;
    bool blockWaiting_ = false;
    std::vector<std::function<void()>> posted_;

    std::vector<std::pair<int, Listener>> listeners_;
    int nextListener_ = 1;
    std::vector<std::function<void()>> turnHooks_;

    std::vector<TextRun> screenText_;
    std::uint64_t screenTextChange_ = ~std::uint64_t{0};
};

} // namespace quillon::runner
