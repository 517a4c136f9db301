#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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
    std::array<std::uint32_t, 7> faults{};
};

// Follows a click through the replies. The device tells one click from the
// next by a reply between them that carries no key, so a click is over once
// one reply has carried its key and a later one has not. A fault that kept
// the carrying reply from the device (dropped, corrupted, cut, or the line
// unplugged) loses the key as a real line would; the click must then be made
// again, which Lost says once.
class ClickWatch {
public:
    explicit ClickWatch(std::uint8_t keyBit) : keyBit_(keyBit) {}
    void Take(const LinkEvent& event)
    {
        if (event.kind == LinkEventKind::FaultInjected) {
            // A write's fault is told right after the write itself.
            if (carriedByLast_ && KeepsReplyFromDevice(event.effect)) {
                phase_ = 0;
                lost_ = true;
            }
            carriedByLast_ = false;
            return;
        }
        carriedByLast_ = false;
        if (event.kind != LinkEventKind::ReplySent) {
            return;
        }
        const bool carries = ((event.status >> kStatusKeyShift) & keyBit_) != 0;
        if (carries ? phase_ == 0 : phase_ == 1) {
            carriedByLast_ = carries;
            ++phase_;
        }
    }
    bool done() const { return phase_ == 2; }
    std::uint8_t keyBit() const { return keyBit_; }
    bool Lost()
    {
        const bool lost = lost_;
        lost_ = false;
        return lost;
    }

private:
    static bool KeepsReplyFromDevice(FaultEffect effect)
    {
        return effect == FaultEffect::ReplyDropped || effect == FaultEffect::ReplyCorrupted ||
               effect == FaultEffect::ReplyCut || effect == FaultEffect::ReplyLost;
    }

    std::uint8_t keyBit_;
    int phase_ = 0;
    bool carriedByLast_ = false;
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
