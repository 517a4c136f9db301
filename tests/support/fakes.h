#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "link/engine_interfaces.h"
#include "link/link_state.h"
#include "link/panel_link.h"

namespace quillon::testing {

// A 128 x 64 display held as page bytes, as a real panel controller holds it,
// plus a log of every run painted and every repaint.
class InMemoryView : public PanelView {
public:
    void DrawColumnRun(const DrawRequest& request) override;
    void RepaintNow() override { ++repaints; }
    std::uint8_t GetKeyBits() const override { return keyBits; }
    void SetKeyBits(std::uint8_t value) override { keyBits = value; }
    bool IsKeyReleased() const override { return keyReleased; }

    // The column byte at (column, page), bit 0 the top row.
    std::uint8_t Column(int column, int page) const { return pages[page][column]; }
    bool Pixel(int x, int y) const { return (pages[y / 8][x] >> (y % 8)) & 1; }
    // Bytes of page `page` from column `first`, `count` of them.
    std::vector<std::uint8_t> Columns(int page, int first, int count) const;
    void Fill(std::uint8_t value);

    struct Run {
        int column;
        int page;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Run> runs;
    int repaints = 0;
    std::array<std::array<std::uint8_t, 128>, 8> pages{};

    std::uint8_t keyBits = 0;
    bool keyReleased = false;
};

// A port fed from a byte queue; what the engine writes is collected. Safe to
// feed from one thread while the reader thread drains it.
class QueuePort : public PanelPort {
public:
    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;

    void Feed(const std::vector<std::uint8_t>& bytes);
    // Everything written so far, as one write per entry.
    std::vector<std::vector<std::uint8_t>> Writes() const;
    std::vector<std::uint8_t> TakeWritten();
    std::size_t Queued() const;

    // Fault injection.
    std::atomic<bool> queryFails{false};
    std::atomic<bool> readFails{false};
    std::atomic<bool> writeFails{false};

private:
    mutable std::mutex mutex_;
    std::condition_variable inputArrived_;
    std::deque<std::uint8_t> input_;
    std::vector<std::vector<std::uint8_t>> writes_;
};

// A clock that moves only when a test moves it.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::uint32_t start = 1000) : now_(start) {}
    std::uint32_t NowMs() override { return now_.load(); }
    void Set(std::uint32_t value) { now_.store(value); }
    void Advance(std::uint32_t ms) { now_.fetch_add(ms); }

private:
    std::atomic<std::uint32_t> now_;
};

// One engine with its three fakes, framed-reply mode, link enabled.
struct EngineFixture {
    EngineFixture();
    // Feeds bytes to the port and lets the receiver take all of them.
    void Receive(const std::vector<std::uint8_t>& bytes);
    // Builds a frame with its checksum; lastOfBlock sets bit 7.
    static std::vector<std::uint8_t> Frame(std::uint8_t code, const std::vector<std::uint8_t>& data,
                                           bool lastOfBlock = true);
    // Receives a block and runs one tick; returns what was written.
    std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& block);

    LinkState state;
    InMemoryView view;
    QueuePort port;
    ManualClock clock;
    CPanelLink link;
};

} // namespace quillon::testing
