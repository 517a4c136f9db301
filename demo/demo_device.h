#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "link/engine_interfaces.h"
#include "serial/serial_port.h"
#include "demo/demo_model.h"
#include "demo/demo_screens.h"
#include "demo/key_decoder.h"
#include "demo/reply_parser.h"

namespace quillon::demo {

struct DemoOptions {
    // How long the device waits for the reply to a block before it sends the
    // block once more; a block unanswered twice means the panel is gone.
    std::uint32_t replyTimeoutMs = 500;
    // Quiet time after which the device asks the panel for its keys.
    std::uint32_t pollIntervalMs = 50;
    // Pause between attempts to reach a panel that does not answer.
    std::uint32_t searchIntervalMs = 1000;
    // Step of the status screen's moving trend.
    std::uint32_t animationIntervalMs = 1000;
    // Send at most one byte per byte time of 9600 8N1, as the wire would. A
    // serial port paces itself; a pseudo-terminal passes bytes on at once.
    bool paceWrites = true;
    // Receives one line for each thing worth telling an engineer: the panel
    // found or lost, a screen opened, an error reply, a missing reply. Called
    // on the device's thread.
    std::function<void(const std::string&)> log;
};

// What the device has done so far. A snapshot; any thread may ask for one.
struct DemoStatus {
    // The panel has answered and has not stopped answering since.
    bool connected = false;
    // The model whose picture the panel has confirmed, every block of it
    // answered; empty while a screen is being drawn or the panel is away.
    std::optional<DemoModel> shown;
    // How the panel answered last.
    std::optional<ReplyForm> replyForm;

    std::uint32_t blocksSent = 0;
    // Replies to the device's blocks, and those among them with an error bit.
    std::uint32_t replies = 0;
    std::uint32_t errorReplies = 0;
    std::uint8_t lastErrorStatus = 0;
    // Replies that came when no block was waiting for one.
    std::uint32_t strayReplies = 0;
    // Blocks that got no reply in time.
    std::uint32_t timeouts = 0;
    std::uint32_t synchRequests = 0;
    // Received bytes that made no reply or request.
    std::uint32_t droppedBytes = 0;
    std::uint32_t keyPresses = 0;
    // Whole screens drawn from scratch: after the panel was found, after a
    // synchronisation request, after the panel's silence message.
    std::uint32_t redraws = 0;
    // Bit n is set once a frame with function code n has been sent.
    std::uint16_t functionCodesSent = 0;
};

// The demo device: the controlling device's side of the panel link, running
// a small panel application on any byte port. It sends one block, waits for
// the reply, reads the keys from it and draws what they ask for; between
// changes it polls the keys.
class DemoDevice {
public:
    DemoDevice(PanelPort& port, Clock& clock, DemoOptions options = {});
    DemoDevice(const DemoDevice&) = delete;
    DemoDevice& operator=(const DemoDevice&) = delete;

    // Runs until stop is requested; returns within about one block time and
    // one short wait after the request.
    void Run(std::stop_token stop);

    DemoStatus Status() const;

private:
    enum class Outcome {
        Answered,   // an error-free reply
        Rejected,   // replies with error bits, twice
        Unanswered, // no reply, twice
    };

    void Search(std::stop_token stop);
    void StartRedraw();
    void SendPending(std::stop_token stop);
    std::optional<DemoModel> NextModel();
    void MoveTo(const DemoModel& next);
    Outcome Exchange(const Block& block, bool isPoll, int attempts, std::stop_token stop);
    // Reads and handles what the panel sends until the deadline; with
    // wantReply, returns the first reply instead of treating it as stray.
    std::optional<PanelMessage> Pump(std::uint32_t deadline, bool wantReply, std::stop_token stop);
    void TakeReply(const PanelMessage& reply, bool answersPoll);
    void TakeStray(const PanelMessage& message);
    void WriteBlock(const Block& block);
    void LosePanel();
    std::uint16_t ReplyModeWord() const;
    void Log(const std::string& line) const;

    template <typename Change> void Record(Change change)
    {
        std::lock_guard lock(mutex_);
        change(status_);
    }

    PanelPort& port_;
    Clock& clock_;
    const DemoOptions options_;

    // Used only by the thread that runs the device.
    ReplyParser parser_;
    KeyDecoder keys_;
    std::deque<Key> pressedKeys_;
    DemoModel model_;
    std::deque<Block> pending_;
    bool connected_ = false;
    // The panel was lost: it may hold part of a frame the line cut off.
    bool panelLost_ = false;
    bool redrawWanted_ = false;
    std::optional<ReplyForm> replyForm_;
    std::uint32_t lastExchangeMs_ = 0;
    std::uint32_t lastAnimationMs_ = 0;

    mutable std::mutex mutex_;
    DemoStatus status_;
};

// A demo device on its own thread, on a serial device, a pseudo-terminal or a
// symbolic link to either. Start, Stop and Status belong to the thread that
// owns the object; the device runs on a thread of its own.
class DemoDeviceThread {
public:
    explicit DemoDeviceThread(DemoOptions options = {});
    ~DemoDeviceThread();
    DemoDeviceThread(const DemoDeviceThread&) = delete;
    DemoDeviceThread& operator=(const DemoDeviceThread&) = delete;

    // Opens the device path as a serial port (9600 8N1, exclusive) and starts
    // the device. Returns 0, or the number of the port set-up step that failed
    // (1 open, 2 and 3 line settings, 4 and 5 time-outs); nothing runs then.
    // A device already running is stopped first.
    int Start(const std::string& devicePath);
    // Starts the device on a port that is already open, such as one end of an
    // in-process line; the port must outlive the device.
    void Start(PanelPort& port);
    // Stops the device and closes the port; returns once the thread has ended.
    void Stop();
    bool IsRunning() const { return thread_.joinable(); }
    // The running device's status, or the last one's after Stop.
    DemoStatus Status() const;

private:
    void Run(PanelPort& port);

    DemoOptions options_;
    SerialPort port_;
    SteadyClock clock_;
    std::unique_ptr<DemoDevice> device_;
    std::jthread thread_;
};

} // namespace quillon::demo
