#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// A generous real-time bound so a broken engine fails the test instead of
// hanging it; a working one answers each block within a few ticks.
constexpr auto kDeadline = std::chrono::seconds(20);

struct Exchange {
    Bytes block;
    Bytes expectedReply;
};

std::vector<Exchange> Script()
{
    std::vector<Exchange> script;
    for (int i = 0; i < 60; ++i) {
        switch (i % 4) {
        case 0: {
            // Text, then READ SWITCHES ends the block.
            Bytes block = EngineFixture::Frame(kWriteString,
                                               {0x80, 0x00, 'H', 'i', static_cast<std::uint8_t>('0' + i % 10)}, false);
            const Bytes last = EngineFixture::Frame(kReadSwitches, {0x00});
            block.insert(block.end(), last.begin(), last.end());
            script.push_back({block, {0x05, 0x01, 0x40, 0x47}});
            break;
        }
        case 1:
            script.push_back({EngineFixture::Frame(kSetContrastAndReplyMode, {0x10, 0x01, 0x00}),
                              {0x0E, 0x09, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0x58}});
            break;
        case 2:
            // A bad function code: answered with the error bit once the line
            // has been quiet for more than 120 ms.
            script.push_back({{0x0F}, {0x05, 0x01, 0x48, 0x4F}});
            break;
        default:
            script.push_back(
                {EngineFixture::Frame(kDrawAndRepeat, {0x00, 0x02, 0x07, 0xAA, 0x55}), {0x05, 0x01, 0x40, 0x47}});
            break;
        }
    }
    return script;
}

TEST(ReaderThread, DeviceThreadAndTickingSupervisorExchangeBlocks)
{
    EngineFixture f;
    f.view.keyBits = 4;
    f.link.StartReceiveThread();

    const auto script = Script();
    std::vector<Bytes> replies;
    std::atomic<bool> deviceDone{false};
    std::thread device([&] {
        const auto deadline = SteadyClock::now() + kDeadline;
        for (const auto& exchange : script) {
            const std::size_t before = f.port.Writes().size();
            f.port.Feed(exchange.block);
            while (f.port.Writes().size() == before && SteadyClock::now() < deadline) {
                std::this_thread::yield();
            }
            const auto writes = f.port.Writes();
            if (writes.size() == before) {
                break;
            }
            replies.push_back(writes.back());
        }
        deviceDone = true;
    });

    const auto deadline = SteadyClock::now() + kDeadline;
    while (!deviceDone && SteadyClock::now() < deadline) {
        // Time moves only while a receive error waits for its quiet period
        // and the device has nothing more on the line, so neither a slow
        // device thread nor a slow reader can look like a silent line.
        if (f.state.rxErrors.load() != 0 && f.port.Queued() == 0) {
            f.clock.Advance(10);
        }
        f.link.LinkTick();
        std::this_thread::yield();
    }
    device.join();
    f.link.StopReceiveThread();

    ASSERT_EQ(replies.size(), script.size());
    for (std::size_t i = 0; i < script.size(); ++i) {
        EXPECT_EQ(replies[i], script[i].expectedReply) << "block " << i;
    }
    // The last text drawn survives on page 0: "Hi" and a digit.
    EXPECT_EQ(f.view.Columns(0, 0, 5), (Bytes{0x7F, 0x08, 0x08, 0x08, 0x7F}));
}

TEST(ReaderThread, StopsPromptlyWhileWaitingForInput)
{
    EngineFixture f;
    f.link.StartReceiveThread();
    const auto before = SteadyClock::now();
    f.link.StopReceiveThread();
    EXPECT_LT(SteadyClock::now() - before, std::chrono::seconds(5));
}

} // namespace
} // namespace quillon::testing
