// The engine on a real line: the link with its reader thread, the POSIX port
// and a test device on the far end of a pseudo-terminal. Time-outs are driven
// by the hand-moved clock; only the reader runs on its own.
#include <chrono>
#include <ctime>
#include <memory>
#include <ostream>
#include <thread>

#include <gtest/gtest.h>

#include "link/panel_engine.h"
#include "protocol/protocol.h"
#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/fakes.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::Columns;
using testing::Frame;
using testing::ManualClock;
using testing::PtyPair;
using testing::WaitUntil;
using Bytes = std::vector<std::uint8_t>;

Bytes Join(const Bytes& first, const Bytes& second)
{
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    return joined;
}

std::chrono::nanoseconds CpuTime(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

class PtyLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine.SetLinkEnabled(true);
        ASSERT_EQ(port.OpenCommPort(pair->path()), 0);
        engine.Start();
    }

    // Ticks the supervisor, at a clock that stands still, until count bytes
    // have come back on the line.
    Bytes TickUntilReply(std::size_t count)
    {
        Bytes received;
        WaitUntil([&] {
            engine.Tick();
            const auto more = pair->TakeReceived();
            received.insert(received.end(), more.begin(), more.end());
            return received.size() >= count;
        });
        return received;
    }

    // One block from the device and the reply that came back for it.
    Bytes Exchange(const Bytes& block, std::size_t replyLength = ShortStatusFrame(0).size())
    {
        pair->Send(block);
        const Bytes reply = TickUntilReply(replyLength);
        engine.Tick();
        const Bytes extra = pair->TakeReceived();
        EXPECT_TRUE(extra.empty()) << "one block, one reply";
        return Join(reply, extra);
    }

    std::unique_ptr<PtyPair> pair = std::make_unique<PtyPair>();
    ManualClock clock;
    SerialPort port;
    PanelEngine engine{port, clock};
};

const Bytes kReadSwitches{0x85, 0x01, 0x00, 0x87};

struct BlockCase {
    const char* name;
    Bytes block;
    std::uint8_t keyBits;
    Bytes reply;
};

void PrintTo(const BlockCase& blockCase, std::ostream* out)
{
    *out << blockCase.name;
}

class PtyLinkBlockTest : public PtyLinkTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(PtyLinkBlockTest, IsAnsweredOnTheLineWithTheExactReply)
{
    engine.keys().Press(GetParam().keyBits);
    EXPECT_EQ(Exchange(GetParam().block, GetParam().reply.size()), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, PtyLinkBlockTest,
    ::testing::Values(BlockCase{"ReadSwitches", kReadSwitches, 0, {0x05, 0x01, 0x00, 0x07}},
                      BlockCase{"ReadSwitchesWithKeyFourLatched", kReadSwitches, 4, {0x05, 0x01, 0x40, 0x47}},
                      BlockCase{"WriteStringThenReadSwitches",
                                Join({0x01, 0x03, 0x00, 0x00, 0x41, 0x46}, kReadSwitches),
                                0,
                                {0x05, 0x01, 0x00, 0x07}},
                      BlockCase{"EndingInCodeFourteen",
                                Frame(kSetContrastAndReplyMode, {0x20, 0x01, 0x00}),
                                0,
                                {0x0E, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18}},
                      BlockCase{"CodeFourteenSwitchingToSingleByteReplies",
                                Frame(kSetContrastAndReplyMode, {0x20, 0xFF, 0xFF}),
                                2,
                                {0x20}},
                      BlockCase{"BadChecksum", {0x85, 0x01, 0x00, 0x88}, 0, {0x05, 0x01, 0x01, 0x08}}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return info.param.name; });

TEST_F(PtyLinkTest, ABadFunctionCodeIsAnsweredWithBit08OnlyAfterMoreThan120Ms)
{
    const std::uint32_t arrival = clock.NowMs();
    pair->Send({0x00});
    ASSERT_TRUE(WaitUntil([&] { return engine.receiver().errors() != 0; }));
    EXPECT_EQ(engine.receiver().lastByteTick(), arrival);

    for (std::uint32_t quiet : {0u, 60u, 120u}) {
        clock.Set(arrival + quiet);
        engine.Tick();
        EXPECT_TRUE(pair->TakeReceived().empty()) << quiet << " ms quiet";
    }
    clock.Set(arrival + 121);
    engine.Tick();
    EXPECT_EQ(pair->TakeReceived(), (Bytes{0x05, 0x01, 0x08, 0x0F}));

    // The error is answered and done with: the next block is served as usual.
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

TEST_F(PtyLinkTest, SilenceOfMoreThanTenSecondsShowsCommunicationsErrorAndReplies)
{
    engine.Tick();
    clock.Advance(10000);
    engine.Tick();
    EXPECT_TRUE(pair->TakeReceived().empty());
    EXPECT_EQ(engine.display().changeCount(), 0u);

    clock.Advance(1);
    engine.Tick();
    EXPECT_EQ(pair->TakeReceived(), (Bytes{0x05, 0x01, 0x01, 0x08}));
    EXPECT_NE(Columns(engine.display(), 3, 4, 64), Bytes(64, 0)) << "the message is drawn on page 3 from column 4";
}

TEST_F(PtyLinkTest, ADeviceThatGoesAwayNeitherSpinsTheReaderNorStopsTheLinkAndReopeningRecovers)
{
    ASSERT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
    pair->CloseDevice();

    // About a second of a dead line, with the supervisor ticking and its
    // clock passing the silence time-out; the reader must sleep through it.
    const auto wallStart = std::chrono::steady_clock::now();
    const auto processStart = CpuTime(CLOCK_PROCESS_CPUTIME_ID);
    const auto ownStart = CpuTime(CLOCK_THREAD_CPUTIME_ID);
    for (int tick = 0; tick < 20; ++tick) {
        std::this_thread::sleep_for(50ms);
        clock.Advance(600);
        engine.Tick();
    }
    const auto others =
        (CpuTime(CLOCK_PROCESS_CPUTIME_ID) - processStart) - (CpuTime(CLOCK_THREAD_CPUTIME_ID) - ownStart);
    const auto wall = std::chrono::steady_clock::now() - wallStart;
    RecordProperty("reader_cpu_us",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(others).count()));
    EXPECT_LT(others, wall / 5) << "the reader used "
                                << std::chrono::duration_cast<std::chrono::milliseconds>(others).count()
                                << " ms of CPU in "
                                << std::chrono::duration_cast<std::chrono::milliseconds>(wall).count() << " ms";
    EXPECT_GT(engine.display().changeCount(), 0u) << "the dead line is shown as a communications error";

    pair = std::make_unique<PtyPair>();
    ASSERT_EQ(port.OpenCommPort(pair->path()), 0);
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

TEST_F(PtyLinkTest, SwitchingPortsUnderTheWaitingReaderLeavesTheLinkOnTheNewPort)
{
    PtyPair other;
    for (int round = 0; round < 30; ++round) {
        // As the port dialog does it: pause the link, close, open, resume.
        engine.SetLinkEnabled(false);
        port.Close();
        ASSERT_EQ(port.OpenCommPort(round % 2 == 0 ? other.path() : pair->path()), 0) << "round " << round;
        engine.SetLinkEnabled(true);
        engine.Tick();
    }
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
    EXPECT_TRUE(other.TakeReceived().empty());
}

TEST(PtyVirtualLink, ADeviceOnAVirtualPortIsServed)
{
    VirtualPort virtualPort;
    ASSERT_TRUE(virtualPort.Create()) << virtualPort.ErrorText();
    ManualClock clock;
    SerialPort port;
    PanelEngine engine(port, clock);
    engine.SetLinkEnabled(true);
    ASSERT_EQ(port.OpenVirtualPort(virtualPort), 0);
    engine.Start();

    SerialPort device;
    ASSERT_EQ(device.OpenCommPort(virtualPort.PathForDevice()), 0);
    ASSERT_TRUE(device.Write(kReadSwitches.data(), kReadSwitches.size()));
    Bytes reply;
    EXPECT_TRUE(WaitUntil([&] {
        engine.Tick();
        std::uint8_t byte = 0;
        while (device.ReadByte(byte)) {
            reply.push_back(byte);
        }
        return reply.size() >= 4;
    }));
    EXPECT_EQ(reply, (Bytes{0x05, 0x01, 0x00, 0x07}));
}

} // namespace
} // namespace quillon
