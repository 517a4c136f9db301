#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "display/display_controller.h"
#include "link/engine_interfaces.h"
#include "link/event_stream.h"
#include "link/frame_receiver.h"
#include "link/key_latch.h"
#include "link/link_supervisor.h"

namespace quillon {

// The emulated panel: frame receiver, link supervisor, key latch and display
// controller, composed. A front end (the window, the headless runner, a
// test) starts it, ticks it every 10 ms on one thread of its own choosing,
// reads its display memory, reports key presses and may attach an observer.
class PanelEngine final : private LineEventSink {
public:
    static constexpr int kTickPeriodMs = 10;

    PanelEngine(PanelPort& port, Clock& clock);
    ~PanelEngine();
    PanelEngine(const PanelEngine&) = delete;
    PanelEngine& operator=(const PanelEngine&) = delete;

    // The reader thread.
    void Start() { receiver_.Start(); }
    void Stop() { receiver_.Stop(); }
    // Hands on the events still queued, as a turn does; for the end of a
    // run, once the line has stopped.
    void DeliverEvents() { events_.Drain(); }

    // Every 10 ms.
    void Tick();
    // By default a complete block is answered as soon as the front end runs
    // AnswerCompleteBlock after the wake call, within about a millisecond.
    // Reply on tick leaves replies to the 10 ms tick alone.
    void SetReplyOnTick(bool onTick) { replyOnTick_.store(onTick); }
    // Called on the reader thread when a block waits to be answered, once
    // until AnswerCompleteBlock runs; it must only arrange for that call on
    // the ticking thread (post an event, signal a condition).
    void SetWake(std::function<void()> wake) { wake_ = std::move(wake); }
    void AnswerCompleteBlock();

    // A hand-made frame taken as if the device had sent it as a one-frame
    // block: bit 7 is set on the code byte, the data is cut to 117 bytes and
    // the checksum is computed here. Returns the checksum the frame carries;
    // the frame waits for the receiver to take it between blocks. Nothing
    // when frames sent before still wait (the link paused, say) and there is
    // no room for this one: it is not sent.
    std::optional<std::uint8_t> InjectFrame(std::uint8_t functionCode, std::span<const std::uint8_t> data);

    void SetLinkEnabled(bool enabled) { receiver_.SetLinkEnabled(enabled); }
    bool linkEnabled() const { return receiver_.linkEnabled(); }
    void SetSynchRequired(bool required) { supervisor_.SetSynchRequired(required); }
    bool synchRequired() const { return supervisor_.synchRequired(); }
    std::uint16_t replyMode() const { return supervisor_.replyMode(); }
    bool lineEnded() const { return supervisor_.lineEnded(); }

    void ShowStartupScreen() { display_.ShowStartupScreen(); }
    const DisplayMemory& display() const { return display_.memory(); }
    void SetRunListener(RunListener* listener) { display_.SetRunListener(listener); }
    KeyLatch& keys() { return keys_; }
    void SetObserver(LinkObserver* observer) { events_.SetObserver(observer); }
    // Where a stage on the line between the port and the engine (faults
    // injected on purpose) tells what it did, in order with the engine's
    // own events.
    LineEventSink& lineEvents() { return *this; }
    // Ticking thread: what became of the front end's port, told in order
    // with the engine's own events. detail is the set-up step that failed
    // for OpenFailed, and for Opened and OpenedAgain the stale bytes the
    // port dropped as it opened.
    void TellPortChange(PortChange change, int detail = 0);

    // The parts, for tools and tests that drive one of them directly.
    FrameReceiver& receiver() { return receiver_; }
    DisplayController& controller() { return display_; }

private:
    void OnBlockComplete();
    void TellFromReader(LinkEvent event) override;
    void TellFromWriter(LinkEvent event) override;

    Clock& clock_;
    EventStream events_;
    DisplayController display_;
    KeyLatch keys_;
    FrameReceiver receiver_;
    LinkSupervisor supervisor_;
    std::function<void()> wake_;
    std::atomic<bool> replyOnTick_{false};
    std::atomic<bool> wakePending_{false};
};

} // namespace quillon
