#pragma once

#include <array>
#include <chrono>
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
#include "host/click_watch.h"
#include "link/fault_port.h"
#include "link/panel_engine.h"

namespace quillon {

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

// The running panel that every front end shares: the engine on its line, the
// fan-out of its events, the screen read as text, clicks followed through the
// replies, the faults given at run time and the link's figures. It has no
// loop of its own: the front end's loop (the runner's thread, the window's
// timer) ticks it every 10 ms and calls Step when woken. Everything but Post
// and the wake runs on that loop's thread.
class PanelHost final : public LinkObserver {
public:
    using Listener = std::function<void(const LinkEvent&)>;
    using Moment = std::chrono::steady_clock::time_point;

    PanelHost(PanelPort& port, Clock& clock, Moment processStart = std::chrono::steady_clock::now());
    ~PanelHost() override;
    PanelHost(const PanelHost&) = delete;
    PanelHost& operator=(const PanelHost&) = delete;

    // Starts the link and draws the start-up screen.
    void Start(bool synchRequired);
    // Stops the line and tells the events still queued.
    void Stop();

    // How the loop that drives the host is woken, from any thread, when a
    // complete block waits for its reply or work has been posted.
    void SetWake(std::function<void()> wake);
    // Never blocks: answers a block that waits, ticks when asked, then runs
    // the posted work and the hooks.
    void Step(bool tick = false);
    // One 10 ms tick of the engine, with its figures.
    void Tick();
    // When the next tick is due.
    Moment nextTick() const { return nextTick_; }
    // Any thread.
    void Post(std::function<void()> work);
    // Run after every step; the id takes it away again.
    int AddTurnHook(std::function<void()> hook);
    void RemoveTurnHook(int id);

    int AddListener(Listener listener);
    // A listener that follows a click and makes it again when a fault kept
    // its key from the device.
    int FollowClick(std::shared_ptr<ClickWatch> click);
    void RemoveListener(int id);

    PanelEngine& engine() { return engine_; }
    // The engine's clock, which times its events.
    Clock& clock() { return clock_; }
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
    Clock& clock_;
    FaultPort* faults_ = nullptr;
    const Moment processStart_;
    Moment nextTick_;
    LinkStats stats_;

    std::mutex mutex_;
    std::function<void()> wake_;
    bool blockWaiting_ = false;
    std::vector<std::function<void()>> posted_;

    std::vector<std::pair<int, Listener>> listeners_;
    int nextListener_ = 1;
    std::vector<std::pair<int, std::function<void()>>> turnHooks_;
    int nextTurnHook_ = 1;

    std::vector<TextRun> screenText_;
    std::uint64_t screenTextChange_ = ~std::uint64_t{0};
};

} // namespace quillon
