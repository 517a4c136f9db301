// Faults on a real line: the engine with its reader thread and the POSIX
// port on one end of a pseudo-terminal, a test device on the other. The
// device end closing in the middle of a block, garbage at full line rate,
// and a port switch in the middle of a block. Time-outs run on the
// hand-moved clock; only the reader and the line run on their own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "link/panel_engine.h"
#include "serial/serial_port.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

using namespace std::chrono_literals;

const Bytes kReadSwitches{0x85, 0x01, 0x00, 0x87};
const Bytes kAnswer{0x05, 0x01, 0x00, 0x07};

// Splits what came back on the line into replies; false if any part of it is
// not a well-formed status frame.
bool SplitReplies(const Bytes& line, std::vector<Bytes>& replies)
{
    std::size_t at = 0;
    while (at < line.size()) {
        // Function code 5 opens the short status frame, 14 the long one.
        const std::size_t size = line[at] == kReadSwitches[0] - kLastFrameBit ? 4 : 12;
        if (at + size > line.size()) {
            return false;
        }
        const Bytes reply(line.begin() + at, line.begin() + at + size);
        const std::uint8_t status = reply[2];
        Bytes expected;
        if (size == 4) {
            const auto frame = ShortStatusFrame(status);
            expected.assign(frame.begin(), frame.end());
        } else {
            const auto frame = LongStatusFrame(status);
            expected.assign(frame.begin(), frame.end());
        }
        if (reply != expected || (status & 0x06) != 0) {
            return false;
        }
        replies.push_back(reply);
        at += size;
    }
    return true;
}

class SerialFaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine.SetLinkEnabled(true);
        engine.SetRunListener(&runs);
        engine.SetObserver(&log);
        ASSERT_EQ(port.OpenCommPort(device->path()), 0);
        engine.Start();
    }

    // Ticks, the clock standing still, until the reader has taken count
    // bytes from the line in all.
    bool ReaderTook(std::size_t count)
    {
        return WaitUntil([&] {
            engine.Tick();
            return log.Of(LinkEventKind::ByteReceived).size() >= count;
        });
    }

    // Ticks, moving the clock 10 ms each time, until count bytes have come
    // back or `limitMs` of clock time have passed.
    Bytes TickUntil(PtyPair& line, std::size_t count, std::uint32_t limitMs)
    {
        Bytes received;
        for (std::uint32_t waited = 0; waited <= limitMs && received.size() < count; waited += 10) {
            clock.Advance(10);
            engine.Tick();
            const auto more = line.TakeReceived();
            received.insert(received.end(), more.begin(), more.end());
        }
        // The line may take a moment to hand over the last write.
        if (received.size() < count) {
            const auto more = line.Receive(count - received.size(), 500ms);
            received.insert(received.end(), more.begin(), more.end());
        }
        return received;
    }

    // A block and its reply, with the clock standing still.
    Bytes Exchange(PtyPair& line, const Bytes& block)
    {
        line.Send(block);
        Bytes received;
        WaitUntil([&] {
            engine.Tick();
            const auto more = line.TakeReceived();
            received.insert(received.end(), more.begin(), more.end());
            return received.size() >= kAnswer.size();
        });
        return received;
    }

    std::unique_ptr<PtyPair> device = std::make_unique<PtyPair>();
    ManualClock clock;
    SerialPort port;
    PanelEngine engine{port, clock};
    RunLog runs{engine.display()};
    EventLog log;
};

TEST_F(SerialFaultTest, DeviceEndClosingMidBlockEndsInCommunicationsErrorAndReopeningRecovers)
{
    device->Send({0x01, 0x03, 0x00});
    ASSERT_TRUE(ReaderTook(3));
    device->CloseDevice();

    engine.Tick();
    clock.Advance(10000);
    engine.Tick();
    EXPECT_TRUE(runs.runs.empty()) << "10 000 ms of silence is not yet more than 10 000 ms";

    // The reply goes to a hung-up line: the write fails at once or gives up
    // after its time-out, and the tick returns either way.
    clock.Advance(1);
    const auto before = std::chrono::steady_clock::now();
    engine.Tick();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_FALSE(runs.runs.empty());
    EXPECT_NE(Columns(engine.display(), 3, 4, 64), Bytes(64, 0)) << "Communications Error on page 3";

    device = std::make_unique<PtyPair>();
    ASSERT_EQ(port.OpenCommPort(device->path()), 0);
    EXPECT_EQ(Exchange(*device, kReadSwitches), kAnswer) << "the half block is given up";
}

TEST_F(SerialFaultTest, GarbageAtFullLineRateGetsOnlyWellFormedRepliesAndTheLinkAnswersAfterwards)
{
    std::mt19937 random(961);
    std::uniform_int_distribution<int> byteValue(0, 255);
    Bytes line;
    // A second and a half at 9600 baud: about ten bytes per 10 ms tick.
    for (int slice = 0; slice < 150; ++slice) {
        Bytes garbage(slice % 10 < 6 ? 10 : 9);
        for (auto& byte : garbage) {
            byte = static_cast<std::uint8_t>(byteValue(random));
        }
        device->Send(garbage);
        std::this_thread::sleep_for(10ms);
        clock.Advance(10);
        engine.Tick();
        const auto more = device->TakeReceived();
        line.insert(line.end(), more.begin(), more.end());
    }
    ASSERT_TRUE(WaitUntil([&] {
        std::size_t waiting = 0;
        return port.BytesWaiting(waiting) && waiting == 0;
    })) << "the reader keeps up with the line";

    // Quiet now: whatever the garbage left is answered by the error reply
    // after 120 ms, or at the latest by the silence reply after 10 s.
    const Bytes after = TickUntil(*device, kAnswer.size(), 10100);
    line.insert(line.end(), after.begin(), after.end());
    std::vector<Bytes> replies;
    EXPECT_TRUE(SplitReplies(line, replies));
    ASSERT_EQ(after.size(), kAnswer.size());
    EXPECT_NE(after[2] & (kStatusFrameError | kStatusChecksumError), 0);
    RecordProperty("replies_during_garbage", static_cast<int>(replies.size()) - 1);

    EXPECT_EQ(Exchange(*device, kReadSwitches), kAnswer);
}

TEST_F(SerialFaultTest, PortSwitchMidBlockAnswersOnTheNewLineOnly)
{
    device->Send({0x02});
    ASSERT_TRUE(ReaderTook(1));

    // As the Comms Port dialog does it: pause, close, open, resume.
    PtyPair other;
    engine.SetLinkEnabled(false);
    port.Close();
    ASSERT_EQ(port.OpenCommPort(other.path()), 0);
    engine.SetLinkEnabled(true);

    // The half frame left from the old line takes the new device's code byte
    // as its length byte, above 117: a receive error.
    other.Send(kReadSwitches);
    ASSERT_TRUE(ReaderTook(5));
    const auto raised = log.Of(LinkEventKind::ErrorRaised);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].rxErrors, kRxBadLength);
    EXPECT_EQ(TickUntil(other, 4, 200), (Bytes{0x05, 0x01, 0x08, 0x0F}));
    EXPECT_EQ(Exchange(other, kReadSwitches), kAnswer);
    EXPECT_TRUE(device->TakeReceived().empty()) << "nothing goes to the old line";
}

} // namespace
} // namespace quillon::testing
