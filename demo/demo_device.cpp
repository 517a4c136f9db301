#include "demo/demo_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "protocol/protocol.h"

namespace quillon::demo {

namespace {

// A block is sent once more when its reply is missing or reports an error;
// a panel being looked for is asked once per search interval.
constexpr int kAttempts = 2;
constexpr int kSearchAttempts = 1;
// Longest single wait, so a stop request is seen soon.
constexpr std::uint32_t kLongestWaitMs = 50;
// Presses made faster than the device can draw them are dropped beyond this.
constexpr std::size_t kKeyQueueLimit = 8;
// Ten bit times (start, eight data, stop) at 9600 baud.
constexpr std::chrono::nanoseconds kByteTime{1'041'667};

bool Reached(std::uint32_t deadline, std::uint32_t now)
{
    return static_cast<std::int32_t>(deadline - now) <= 0;
}

const char* FormName(ReplyForm form)
{
    switch (form) {
    case ReplyForm::SingleByte:
        return "single-byte replies";
    case ReplyForm::ShortFrame:
    case ReplyForm::LongFrame:
        return "status frames";
    }
    return "?";
}

std::string Hex(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

} // namespace

DemoDevice::DemoDevice(PanelPort& port, Clock& clock, DemoOptions options)
    : port_(port), clock_(clock), options_(std::move(options))
{
}

DemoStatus DemoDevice::Status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void DemoDevice::Log(const std::string& line) const
{
    if (options_.log) {
        options_.log(line);
    }
}

void DemoDevice::Run(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        if (!connected_) {
            Search(stop);
            continue;
        }
        if (redrawWanted_) {
            StartRedraw();
        }
        if (!pending_.empty()) {
            SendPending(stop);
            continue;
        }
        if (const auto next = NextModel()) {
            MoveTo(*next);
            continue;
        }
        const std::uint32_t pollDue = lastExchangeMs_ + options_.pollIntervalMs;
        if (Reached(pollDue, clock_.NowMs())) {
            if (Exchange(PackBlocks({ReadSwitches()}).front(), true, kAttempts, stop) == Outcome::Unanswered &&
                !stop.stop_requested()) {
                LosePanel();
            }
            continue;
        }
        Pump(pollDue, false, stop);
    }
}

void DemoDevice::Search(std::stop_token stop)
{
    const std::uint32_t attemptMs = clock_.NowMs();
    Block poll = PackBlocks({ReadSwitches()}).front();
    if (panelLost_) {
        // A line cut off in the middle of a frame leaves the panel waiting
        // for the rest of it, and it would take the polls' bytes for that,
        // a few a second. Zero bytes end any frame it holds (119 more at
        // most) and then start none, so the panel reports an error, which
        // answers the poll at once.
        poll.insert(poll.begin(), kRxBufferSize, 0x00);
    }
    if (Exchange(poll, true, kSearchAttempts, stop) != Outcome::Unanswered) {
        connected_ = true;
        panelLost_ = false;
        redrawWanted_ = true;
        Record([](DemoStatus& status) { status.connected = true; });
        Log(std::string("panel found, answering with ") + FormName(*replyForm_));
        return;
    }
    if (!stop.stop_requested()) {
        Pump(attemptMs + options_.searchIntervalMs, false, stop);
    }
}

void DemoDevice::LosePanel()
{
    connected_ = false;
    panelLost_ = true;
    pending_.clear();
    Record([](DemoStatus& status) {
        status.connected = false;
        status.shown.reset();
    });
    Log("the panel does not answer; looking for it");
}

void DemoDevice::StartRedraw()
{
    redrawWanted_ = false;
    std::vector<Frame> frames = StartFrames(model_, ReplyModeWord());
    const std::vector<Frame> screen = DrawScreen(model_);
    frames.insert(frames.end(), screen.begin(), screen.end());
    const std::vector<Block> blocks = PackBlocks(frames);
    pending_.assign(blocks.begin(), blocks.end());
    Record([](DemoStatus& status) {
        ++status.redraws;
        status.shown.reset();
    });
    Log(std::string("drawing the ") + ScreenName(model_.screen));
}

void DemoDevice::SendPending(std::stop_token stop)
{
    const Outcome outcome = Exchange(pending_.front(), false, kAttempts, stop);
    if (outcome == Outcome::Unanswered) {
        // A stop cut the exchange short; the block is sent again on the next run.
        if (!stop.stop_requested()) {
            LosePanel();
        }
        return;
    }
    if (outcome == Outcome::Rejected) {
        // Refused on every attempt: the line damages what it carries, and
        // the blocks after this one would draw on a screen that lacks it.
        pending_.clear();
        redrawWanted_ = true;
        Log("the panel refused a block on every attempt; drawing the screen again");
        return;
    }
    pending_.pop_front();
    if (pending_.empty() && !redrawWanted_) {
        Record([this](DemoStatus& status) { status.shown = model_; });
    }
}

std::optional<DemoModel> DemoDevice::NextModel()
{
    while (!pressedKeys_.empty()) {
        const Key key = pressedKeys_.front();
        pressedKeys_.pop_front();
        const DemoModel next = ApplyKey(model_, key);
        if (next != model_) {
            return next;
        }
    }
    const std::uint32_t now = clock_.NowMs();
    if (IsAnimated(model_) && Reached(lastAnimationMs_ + options_.animationIntervalMs, now)) {
        lastAnimationMs_ = now;
        return Animate(model_);
    }
    return std::nullopt;
}

void DemoDevice::MoveTo(const DemoModel& next)
{
    const std::vector<Block> blocks = PackBlocks(DrawChange(model_, next, ReplyModeWord()));
    pending_.assign(blocks.begin(), blocks.end());
    if (next.screen != model_.screen) {
        lastAnimationMs_ = clock_.NowMs();
        Log(std::string("opening the ") + ScreenName(next.screen));
    }
    model_ = next;
    Record([](DemoStatus& status) { status.shown.reset(); });
}

std::uint16_t DemoDevice::ReplyModeWord() const
{
    // Restate the mode the panel answers in, so that setting the contrast
    // never overrides the operator's choice of single-byte replies.
    return replyForm_ == ReplyForm::SingleByte ? kSingleByteReplyMode : kFramedReplyMode;
}

DemoDevice::Outcome DemoDevice::Exchange(const Block& block, bool isPoll, int attempts, std::stop_token stop)
{
    std::optional<PanelMessage> reply;
    for (int attempt = 0; attempt < attempts && !stop.stop_requested(); ++attempt) {
        // Whatever came since the last reply belongs to no block of ours.
        Pump(clock_.NowMs(), false, stop);
        WriteBlock(block);
        reply = Pump(clock_.NowMs() + options_.replyTimeoutMs, true, stop);
        lastExchangeMs_ = clock_.NowMs();
        if (!reply && stop.stop_requested()) {
            break;
        }
        if (!reply) {
            Record([](DemoStatus& status) { ++status.timeouts; });
            if (connected_) {
                Log("no reply to a block of " + std::to_string(block.size()) + " bytes");
            }
            continue;
        }
        TakeReply(*reply, isPoll);
        if ((reply->status & kStatusErrorMask) == 0) {
            return Outcome::Answered;
        }
    }
    return reply ? Outcome::Rejected : Outcome::Unanswered;
}

std::optional<PanelMessage> DemoDevice::Pump(std::uint32_t deadline, bool wantReply, std::stop_token stop)
{
    for (;;) {
        std::size_t waiting = 0;
        bool readFailed = false;
        while (port_.BytesWaiting(waiting) && waiting > 0) {
            std::uint8_t byte = 0;
            if (!port_.ReadByte(byte)) {
                readFailed = true;
                break;
            }
            const std::optional<PanelMessage> message = parser_.Feed(byte, clock_.NowMs());
            if (!message) {
                continue;
            }
            if (wantReply && message->kind == PanelMessage::Kind::Reply) {
                return message;
            }
            TakeStray(*message);
        }
        if (parser_.DroppedBytes() != 0) {
            Record([this](DemoStatus& status) { status.droppedBytes = parser_.DroppedBytes(); });
        }
        const std::uint32_t now = clock_.NowMs();
        if (stop.stop_requested() || Reached(deadline, now)) {
            return std::nullopt;
        }
        const std::uint32_t waitMs = std::min(deadline - now, kLongestWaitMs);
        if (readFailed) {
            // Bytes reported but not readable: waiting for input would return
            // at once, so sleep the slice out instead of spinning.
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        } else {
            port_.WaitForInput(static_cast<int>(waitMs));
        }
    }
}

void DemoDevice::TakeReply(const PanelMessage& reply, bool answersPoll)
{
    replyForm_ = reply.form;
    const Key key = keys_.Feed(reply.status, clock_.NowMs());
    if (key != Key::None && pressedKeys_.size() < kKeyQueueLimit) {
        pressedKeys_.push_back(key);
    }
    const bool failed = (reply.status & kStatusErrorMask) != 0;
    Record([&](DemoStatus& status) {
        ++status.replies;
        status.replyForm = reply.form;
        if (key != Key::None) {
            ++status.keyPresses;
        }
        if (failed) {
            ++status.errorReplies;
            status.lastErrorStatus = reply.status;
        }
    });
    if (failed) {
        Log("the panel reported status " + Hex(reply.status));
    }
    if (answersPoll && reply.status == kSilenceStatus) {
        redrawWanted_ = true;
    }
}

void DemoDevice::TakeStray(const PanelMessage& message)
{
    if (message.kind == PanelMessage::Kind::SynchRequest) {
        // The panel has not understood us since it started or lost the line:
        // whatever it shows now is not our screen.
        redrawWanted_ = true;
        Record([](DemoStatus& status) { ++status.synchRequests; });
        Log("the panel asks for synchronisation");
        return;
    }
    Record([](DemoStatus& status) { ++status.strayReplies; });
    if (message.status == kSilenceStatus) {
        redrawWanted_ = true;
        Log("the panel reported a silence");
    }
}

void DemoDevice::WriteBlock(const Block& block)
{
    Record([&](DemoStatus& status) {
        ++status.blocksSent;
        status.functionCodesSent |= FunctionCodesOf(block);
    });
    if (!options_.paceWrites) {
        port_.Write(block.data(), block.size());
        return;
    }
    using SteadyClock = std::chrono::steady_clock;
    const auto start = SteadyClock::now();
    std::size_t sent = 0;
    while (sent < block.size()) {
        const auto due = std::min(block.size(), static_cast<std::size_t>((SteadyClock::now() - start) / kByteTime) + 1);
        if (due > sent) {
            port_.Write(block.data() + sent, due - sent);
            sent = due;
        }
        if (sent < block.size()) {
            std::this_thread::sleep_until(start + kByteTime * static_cast<long>(sent));
        }
    }
}

DemoDeviceThread::DemoDeviceThread(DemoOptions options) : options_(std::move(options))
{
}

DemoDeviceThread::~DemoDeviceThread()
{
    Stop();
}

int DemoDeviceThread::Start(const std::string& devicePath)
{
    Stop();
    const int failedStep = port_.OpenCommPort(devicePath);
    if (failedStep != 0) {
        return failedStep;
    }
    Run(port_);
    return 0;
}

void DemoDeviceThread::Start(PanelPort& port)
{
    Stop();
    Run(port);
}

void DemoDeviceThread::Run(PanelPort& port)
{
    device_ = std::make_unique<DemoDevice>(port, clock_, options_);
    thread_ = std::jthread([device = device_.get()](std::stop_token stop) { device->Run(stop); });
}

void DemoDeviceThread::Stop()
{
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    port_.Close();
}

DemoStatus DemoDeviceThread::Status() const
{
    return device_ ? device_->Status() : DemoStatus{};
}

} // namespace quillon::demo
