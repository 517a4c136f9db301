#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

using RealTime = std::chrono::steady_clock;

// A generous real-time bound so a broken engine fails the test instead of
// hanging it; a working one answers each block within a few ticks.
constexpr auto kDeadline = std::chrono::seconds(20);

bool WaitUntil(const std::function<bool()>& condition)
{
    const auto deadline = RealTime::now() + kDeadline;
    while (!condition()) {
        if (RealTime::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

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

// Send Packet while the device streams: each hand-made frame is taken
// between the device's blocks, never inside one, and each gets its own
// reply. The injected frame is answered with the long status frame, the
// device's blocks with the short one, so the device waits for its own reply.
TEST(ReaderThread, FramesInjectedWhileTheDeviceStreamsAreTakenOnceEachBetweenBlocks)
{
    constexpr std::size_t kDeviceBlocks = 60;
    constexpr std::size_t kInjected = 20;
    // Every few blocks the device stops half way, once the reader has taken
    // the block's first frame, until a frame has been injected.
    constexpr std::size_t kBlocksPerInjection = kDeviceBlocks / kInjected;
    const Bytes contrast{0x20, 0x01, 0x00};
    const Bytes injectedFrame = EncodeFrame(kSetContrastAndReplyMode, contrast);

    EngineFixture f;
    EventLog log;
    f.engine.SetObserver(&log);
    std::mutex wakeMutex;
    std::condition_variable wakeSignal;
    bool woken = false;
    f.engine.SetWake([&] {
        {
            std::lock_guard lock(wakeMutex);
            woken = true;
        }
        wakeSignal.notify_one();
    });
    f.engine.Start();

    std::atomic<std::size_t> deviceAnswered{0};
    std::atomic<std::size_t> stoppedHalfWay{0};
    std::atomic<std::size_t> injected{0};
    std::thread device([&] {
        std::size_t seen = 0;
        for (std::size_t i = 0; i < kDeviceBlocks; ++i) {
            f.port.Feed(
                Frame(kWriteArray, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i % 8), 0x5A}, false));
            if (i % kBlocksPerInjection == 0) {
                const std::size_t stop = stoppedHalfWay.load() + 1;
                if (!WaitUntil([&] { return f.port.Queued() == 0; })) {
                    return;
                }
                stoppedHalfWay.store(stop);
                if (!WaitUntil([&] { return injected.load() >= stop; })) {
                    return;
                }
            }
            f.port.Feed(Frame(kReadSwitches, {0x00}));
            while (deviceAnswered.load() <= i) {
                if (!f.port.WaitForWrites(seen + 1, kDeadline)) {
                    return;
                }
                const auto writes = f.port.Writes();
                for (; seen < writes.size(); ++seen) {
                    if (writes[seen].size() == ShortStatusFrame(0).size()) {
                        ++deviceAnswered;
                    }
                }
            }
        }
    });

    std::size_t injectedExecuted = 0;
    std::size_t eventsSeen = 0;
    const auto deadline = RealTime::now() + kDeadline;
    while (RealTime::now() < deadline && (deviceAnswered.load() < kDeviceBlocks || injectedExecuted < kInjected)) {
        if (injected.load() < stoppedHalfWay.load()) {
            EXPECT_EQ(f.engine.InjectFrame(kSetContrastAndReplyMode, contrast), injectedFrame.back());
            ++injected;
        }
        {
            std::unique_lock lock(wakeMutex);
            wakeSignal.wait_for(lock, std::chrono::milliseconds(2), [&] { return woken; });
            woken = false;
        }
        f.engine.AnswerCompleteBlock();
        f.clock.Advance(1);
        f.engine.Tick();
        for (; eventsSeen < log.events.size(); ++eventsSeen) {
            const LinkEvent& event = log.events[eventsSeen];
            injectedExecuted += event.kind == LinkEventKind::FrameExecuted && event.injected ? 1 : 0;
        }
    }
    device.join();
    f.engine.Stop();
    f.engine.Tick();

    const auto writes = f.port.Writes();
    std::size_t shortReplies = 0;
    std::size_t longReplies = 0;
    for (const auto& write : writes) {
        const auto shortFrame = ShortStatusFrame(0);
        const auto longFrame = LongStatusFrame(0);
        if (write == Bytes(shortFrame.begin(), shortFrame.end())) {
            ++shortReplies;
        } else if (write == Bytes(longFrame.begin(), longFrame.end())) {
            ++longReplies;
        } else {
            ADD_FAILURE() << "a reply with error bits or of no known form, " << write.size() << " bytes";
        }
    }
    EXPECT_EQ(shortReplies, kDeviceBlocks) << "every device block answered once";
    EXPECT_EQ(longReplies, kInjected) << "every injected frame answered once";
    EXPECT_EQ(writes.size(), kDeviceBlocks + kInjected);

    std::size_t deviceFrames = 0;
    std::size_t injectedFrames = 0;
    for (const auto& event : log.Of(LinkEventKind::FrameExecuted)) {
        EXPECT_TRUE(event.executed);
        EXPECT_EQ(event.frameErrors | event.commandErrors, 0);
        if (event.injected) {
            ++injectedFrames;
            EXPECT_EQ(Bytes(event.bytes().begin(), event.bytes().end()), injectedFrame);
        } else {
            ++deviceFrames;
        }
    }
    EXPECT_EQ(injectedFrames, kInjected) << "every injected frame executed once";
    EXPECT_EQ(deviceFrames, 2 * kDeviceBlocks);
    EXPECT_TRUE(log.Of(LinkEventKind::ErrorRaised).empty());
    EXPECT_TRUE(log.Of(LinkEventKind::TimeoutReply).empty());
    EXPECT_EQ(f.engine.replyMode(), kFramedReplyMode);
}

// After an error reply the device may send its next block at once; the
// reader, not the ticking thread, resets the receive state, so those bytes
// are stored from the start of the buffer and answered.
TEST(ReaderThread, BlockSentAtOnceAfterAnErrorReplyIsStoredFromTheStart)
{
    EngineFixture f;
    EventLog log;
    f.engine.SetObserver(&log);
    f.engine.Start();
    f.port.Feed({0x00});
    ASSERT_TRUE(WaitUntil([&] { return f.engine.receiver().errors() != 0; }));

    const Bytes block{0x85, 0x01, 0x00, 0x87};
    f.port.OnNextWrite([&] { f.port.Feed(block); });
    f.clock.Advance(121);
    const bool answered = WaitUntil([&] {
        f.engine.Tick();
        return f.port.Writes().size() >= 2;
    });
    f.engine.Stop();
    ASSERT_TRUE(answered);

    EXPECT_EQ(f.port.Writes(), (std::vector<Bytes>{{0x05, 0x01, 0x08, 0x0F}, {0x05, 0x01, 0x00, 0x07}}));
    const auto completed = log.Of(LinkEventKind::FrameCompleted);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(Bytes(completed[0].bytes().begin(), completed[0].bytes().end()), block);
    EXPECT_EQ(log.Of(LinkEventKind::ErrorRaised).size(), 1u) << "only the bad byte raised an error";
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
