#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

using RealTime = std::chrono::steady_clock;

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
            const FrameContent frames[] = {
                {kWriteString, {0x80, 0x00, 'H', 'i', static_cast<std::uint8_t>('0' + i % 10)}},
                {kReadSwitches, {0x00}},
            };
            script.push_back({EncodeBlock(frames), {0x05, 0x01, 0x40, 0x47}});
            break;
        }
        case 1:
            script.push_back({Frame(kSetContrastAndReplyMode, {0x10, 0x01, 0x00}),
                              {0x0E, 0x09, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0x58}});
            break;
        case 2:
            // A bad function code: answered with the error bit once the line
            // has been quiet for more than 120 ms.
            script.push_back({{0x0F}, {0x05, 0x01, 0x48, 0x4F}});
            break;
        default:
            script.push_back({Frame(kDrawAndRepeat, {0x00, 0x02, 0x07, 0xAA, 0x55}), {0x05, 0x01, 0x40, 0x47}});
            break;
        }
    }
    return script;
}

TEST(ReaderThread, DeviceThreadAndTickingSupervisorExchangeBlocks)
{
    EngineFixture f;
    f.engine.keys().Press(kKeyUp);
    f.engine.Start();

    const auto script = Script();
    std::vector<Bytes> replies;
    std::atomic<bool> deviceDone{false};
    std::thread device([&] {
        for (const auto& exchange : script) {
            const std::size_t before = f.port.Writes().size();
            f.port.Feed(exchange.block);
            if (!f.port.WaitForWrites(before + 1, kDeadline)) {
                break;
            }
            replies.push_back(f.port.Writes().back());
        }
        deviceDone = true;
    });

    const auto deadline = RealTime::now() + kDeadline;
    while (!deviceDone && RealTime::now() < deadline) {
        // Time moves only while a receive error waits for its quiet period
        // and the device has nothing more on the line, so neither a slow
        // device thread nor a slow reader can look like a silent line.
        if (f.engine.receiver().errors() != 0 && f.port.Queued() == 0) {
            f.clock.Advance(10);
        }
        f.engine.Tick();
        std::this_thread::yield();
    }
    device.join();
    f.engine.Stop();

    ASSERT_EQ(replies.size(), script.size());
    for (std::size_t i = 0; i < script.size(); ++i) {
        EXPECT_EQ(replies[i], script[i].expectedReply) << "block " << i;
    }
    // The last text drawn survives on page 0: "Hi" and a digit.
    EXPECT_EQ(Columns(f.display(), 0, 0, 5), (Bytes{0x7F, 0x08, 0x08, 0x08, 0x7F}));
}

TEST(ReaderThread, StopsPromptlyWhileWaitingForInput)
{
    EngineFixture f;
    f.engine.Start();
    const auto before = RealTime::now();
    f.engine.Stop();
    EXPECT_LT(RealTime::now() - before, std::chrono::seconds(5));
}

} // namespace
} // namespace quillon::testing
