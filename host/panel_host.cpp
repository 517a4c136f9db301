#include "host/panel_host.h"

#include <algorithm>
#include <utility>

namespace quillon {

namespace {

using Milliseconds = std::chrono::duration<double, std::milli>;
constexpr std::chrono::milliseconds kTickPeriod{PanelEngine::kTickPeriodMs};

// Cleared rather than erased: a listener or a hook may remove itself while
// it runs; the cleared entries go at the end of the pass.
template <typename Entries> void ClearEntry(Entries& entries, int id)
{
    for (auto& [entryId, entry] : entries) {
        if (entryId == id) {
            entry = nullptr;
        }
    }
}

} // namespace

std::string ScreenReads(const std::vector<TextRun>& runs)
{
    std::string screen;
    for (const TextRun& run : runs) {
        screen += (screen.empty() ? "" : " | ") + PanelTextToUtf8(run.text);
    }
    return screen.empty() ? "(no text)" : screen;
}

PanelHost::PanelHost(PanelPort& port, Clock& clock, Moment processStart)
    : engine_(port, clock), clock_(clock), processStart_(processStart),
      nextTick_(std::chrono::steady_clock::now() + kTickPeriod)
{
    engine_.SetObserver(this);
    engine_.SetWake([this] {
        std::function<void()> wake;
        {
            std::lock_guard lock(mutex_);
            blockWaiting_ = true;
            wake = wake_;
        }
        if (wake) {
            wake();
        }
    });
}

PanelHost::~PanelHost()
{
    // Front ends made after the host are gone by now: what is still queued
    // is dropped, not told to them. A program that wants the last events
    // told stops the host itself first.
    listeners_.clear();
    turnHooks_.clear();
    Stop();
    engine_.SetWake({});
    engine_.SetObserver(nullptr);
}

void PanelHost::Start(bool synchRequired)
{
    engine_.SetSynchRequired(synchRequired);
    engine_.SetLinkEnabled(true);
    engine_.Start();
    nextTick_ = std::chrono::steady_clock::now() + kTickPeriod;
    // What the panel shows until the device draws, as the desktop program.
    engine_.ShowStartupScreen();
}

void PanelHost::SetFaults(FaultPort* faults)
{
    faults_ = faults;
    if (faults_ != nullptr) {
        faults_->SetSink(&engine_.lineEvents());
    }
}

void PanelHost::Stop()
{
    engine_.Stop();
    engine_.DeliverEvents();
}

double PanelHost::Elapsed() const
{
    return Milliseconds(std::chrono::steady_clock::now() - processStart_).count();
}

void PanelHost::SetWake(std::function<void()> wake)
{
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void PanelHost::Post(std::function<void()> work)
{
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
        wake = wake_;
    }
    if (wake) {
        wake();
    }
}

void PanelHost::Step(bool tick)
{
    std::vector<std::function<void()>> work;
    bool answer = false;
    {
        std::lock_guard lock(mutex_);
        answer = std::exchange(blockWaiting_, false);
        work.swap(posted_);
    }
    if (answer) {
        engine_.AnswerCompleteBlock();
    }
    if (tick) {
        Tick();
    }
    for (auto& task : work) {
        task();
    }
    for (std::size_t i = 0; i < turnHooks_.size(); ++i) {
        if (turnHooks_[i].second) {
            // Copied: the hook may add or remove hooks while it runs.
            const std::function<void()> hook = turnHooks_[i].second;
            hook();
        }
    }
    std::erase_if(turnHooks_, [](const auto& entry) { return !entry.second; });
}

void PanelHost::Tick()
{
    const auto now = std::chrono::steady_clock::now();
    const double late = std::max(0.0, Milliseconds(now - nextTick_).count());
    stats_.worstTickLatenessMs = std::max(stats_.worstTickLatenessMs, late);
    stats_.lateTicks += late >= PanelEngine::kTickPeriodMs ? 1 : 0;
    engine_.Tick();
    stats_.worstTickWorkMs =
        std::max(stats_.worstTickWorkMs, Milliseconds(std::chrono::steady_clock::now() - now).count());
    ++stats_.ticks;
    nextTick_ += kTickPeriod;
    // A tick missed is missed: the next one keeps the period from now.
    if (nextTick_ <= now) {
        nextTick_ = now + kTickPeriod;
    }
}

int PanelHost::AddListener(Listener listener)
{
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void PanelHost::RemoveListener(int id)
{
    ClearEntry(listeners_, id);
}

int PanelHost::AddTurnHook(std::function<void()> hook)
{
    turnHooks_.emplace_back(nextTurnHook_, std::move(hook));
    return nextTurnHook_++;
}

void PanelHost::RemoveTurnHook(int id)
{
    ClearEntry(turnHooks_, id);
}

int PanelHost::FollowClick(std::shared_ptr<ClickWatch> click)
{
    return AddListener([this, click](const LinkEvent& event) {
        click->Take(event);
        if (click->Lost()) {
            // Pressed once the reply that lost it has let the latch go.
            Post([this, key = click->keyBit()] {
                engine_.keys().Press(key);
                engine_.keys().Release();
            });
        }
    });
}

const std::vector<TextRun>& PanelHost::ScreenText()
{
    if (engine_.display().changeCount() != screenTextChange_) {
        screenTextChange_ = engine_.display().changeCount();
        screenText_ = ReadScreenText(engine_.display());
    }
    return screenText_;
}

void PanelHost::OnLinkEvent(const LinkEvent& event)
{
    switch (event.kind) {
    case LinkEventKind::ReplySent:
        ++stats_.replies;
        if (stats_.firstReplyMs < 0) {
            stats_.firstReplyMs = Elapsed();
        }
        stats_.errorReplies += (event.status & kStatusErrorMask) != 0 ? 1 : 0;
        break;
    case LinkEventKind::TimeoutReply:
        ++stats_.timeoutReplies;
        break;
    case LinkEventKind::FrameExecuted:
        stats_.framesExecuted += event.executed ? 1 : 0;
        break;
    case LinkEventKind::SynchRequestSent:
        ++stats_.synchRequests;
        break;
    case LinkEventKind::EventsDropped:
        stats_.eventsDropped += event.dropped;
        stats_.bytesReceived += event.value;
        break;
    case LinkEventKind::ByteReceived:
        ++stats_.bytesReceived;
        stats_.refusedBytes += event.rxErrors != 0 ? 1 : 0;
        break;
    case LinkEventKind::BytesRefused:
        stats_.bytesReceived += event.value;
        stats_.refusedBytes += event.value;
        break;
    case LinkEventKind::ErrorRaised:
        ++stats_.receiveErrors;
        stats_.receiveErrorBits |= event.rxErrors;
        break;
    case LinkEventKind::FaultInjected:
        // The line coming back ends the unplug already counted, and a held
        // reply leaving ends its delay.
        stats_.faults[static_cast<std::size_t>(event.fault)] +=
            event.effect != FaultEffect::LineBack && event.effect != FaultEffect::HeldReplySent ? 1 : 0;
        break;
    default:
        break;
    }
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
        if (listeners_[i].second) {
            // Copied: the listener may add others while it runs.
            const Listener listener = listeners_[i].second;
            listener(event);
        }
    }
    std::erase_if(listeners_, [](const auto& entry) { return !entry.second; });
}

} // namespace quillon
