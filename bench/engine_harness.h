#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>

#include "bench/blocks.h"
#include "link/engine_interfaces.h"
#include "link/panel_engine.h"

namespace quillon::bench {

// A port that hands out the bytes of one block, then reports an empty queue.
// Replies are counted and the last one's status byte kept, so a benchmark can
// check that its blocks were carried out and not refused.
class StreamPort final : public PanelPort {
public:
    void Load(const Bytes& bytes);
    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int) override {}

    std::uint64_t replies = 0;
    std::uint8_t lastStatus = 0;

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t next_ = 0;
};

// Time stands still, so no time-out ever fires during a benchmark.
class StillClock final : public Clock {
public:
    std::uint32_t NowMs() override { return 1000; }
};

// Feeds one block through the receiver, then runs one supervisor tick, which
// validates and executes its frames and sends the reply.
void RunBlock(PanelEngine& engine, StreamPort& port, const Bytes& block);

// The engine with no window and no reader thread, link enabled, framed
// replies; the display memory is the only picture.
struct BenchEngine {
    BenchEngine();

    StreamPort port;
    StillClock clock;
    PanelEngine engine{port, clock};
};

// Column runs (and so synchronous repaints in a window) that one block costs.
std::uint64_t RunsPerBlock(const Bytes& block);

// The least an observer does: looks at every event and keeps counts, so what
// it costs is the engine building and delivering the events.
class CountingObserver final : public LinkObserver {
public:
    void OnLinkEvent(const LinkEvent& event) override
    {
        ++events;
        bytes += event.length;
        dropped += event.dropped;
    }

    std::uint64_t events = 0;
    std::uint64_t bytes = 0;
    std::uint64_t dropped = 0;
};

// The ticking thread a front end would have: Tick every 10 ms, and the answer
// to a complete block as soon as the reader's wake call arrives.
class Ticker {
public:
    explicit Ticker(PanelEngine& engine) : engine_(engine)
    {
        engine_.SetWake([this] {
            {
                std::lock_guard lock(mutex_);
                woken_ = true;
            }
            changed_.notify_one();
        });
        thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    // The engine's reader must be stopped first: its wake call lands here.
    ~Ticker()
    {
        thread_.request_stop();
        changed_.notify_one();
        thread_.join();
        engine_.SetWake({});
    }
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

private:
    void Run(std::stop_token stop)
    {
        auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(PanelEngine::kTickPeriodMs);
        std::unique_lock lock(mutex_);
        while (!stop.stop_requested()) {
            if (changed_.wait_until(lock, next, [&] { return woken_ || stop.stop_requested(); })) {
                woken_ = false;
                lock.unlock();
                engine_.AnswerCompleteBlock();
                lock.lock();
                continue;
            }
            lock.unlock();
            engine_.Tick();
            lock.lock();
            next += std::chrono::milliseconds(PanelEngine::kTickPeriodMs);
        }
    }

    PanelEngine& engine_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
    std::jthread thread_;
};

} // namespace quillon::bench
