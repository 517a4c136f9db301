#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bench/blocks.h"
#include "link/engine_interfaces.h"
#include "link/link_state.h"
#include "link/panel_link.h"

namespace quillon::bench {

// The cheapest honest panel: runs land in page bytes, as a display
// controller's memory holds them, and a repaint is only counted. Nothing is
// allocated per run, so what a benchmark measures is the engine.
class PageView final : public PanelView {
public:
    void DrawColumnRun(const DrawRequest& request) override;
    void RepaintNow() override { ++repaints; }
    std::uint8_t GetKeyBits() const override { return 0; }
    void SetKeyBits(std::uint8_t) override {}
    bool IsKeyReleased() const override { return true; }

    std::uint8_t Column(int column, int page) const { return pages_[page][column]; }

    std::uint64_t repaints = 0;

private:
    std::array<std::array<std::uint8_t, 128>, 8> pages_{};
};

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
void RunBlock(CPanelLink& link, StreamPort& port, const Bytes& block);

// The engine with the in-memory panel, link enabled, framed replies.
struct BenchEngine {
    BenchEngine();

    LinkState state;
    PageView view;
    StreamPort port;
    StillClock clock;
    CPanelLink link;
};

// Column runs (and so synchronous repaints) that one block costs.
std::uint64_t RunsPerBlock(const Bytes& block);

} // namespace quillon::bench
