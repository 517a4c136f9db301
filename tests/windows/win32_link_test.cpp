// The engine on COM ports: the link with its reader thread, the Win32 port
// and a test device on the joined port. Time-outs are driven by the
// hand-moved clock; only the reader runs on its own.
#include <chrono>
#include <ostream>
#include <thread>

#include <gtest/gtest.h>

#include "link/panel_engine.h"
#include "protocol/protocol.h"
#include "serial/serial_port.h"
#include "tests/support/fakes.h"
#include "tests/windows/com_lines.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::ComPairs;
using testing::Frame;
using testing::ManualClock;
using testing::WaitUntil;

const Bytes kReadSwitches{0x85, 0x01, 0x00, 0x87};
const Bytes kCleanReply{0x05, 0x01, 0x00, 0x07};

Bytes Join(const Bytes& first, const Bytes& second)
{
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    return joined;
}

class ComLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pairs = ComPairs();
        if (pairs.size() < 2) {
            GTEST_SKIP() << "needs two joined pairs of COM ports (QUILLON_TEST_COM_PAIRS at configure time)";
        }
        ASSERT_EQ(device.OpenCommPort(pairs[0].device), 0);
        ASSERT_EQ(port.OpenCommPort(pairs[0].panel), 0);
        testing::Drain(device);
        engine.SetLinkEnabled(true);
        engine.Start();
    }

    // Ticks the supervisor, at a clock that stands still, until count bytes
    // have come back on the line.
    Bytes TickUntilReply(SerialPort& from, std::size_t count)
    {
        Bytes received;
        WaitUntil([&] {
            engine.Tick();
            const Bytes more = testing::ReadAll(from);
            received.insert(received.end(), more.begin(), more.end());
            return received.size() >= count;
        });
        return received;
    }

    // One block from the device and the reply that came back for it.
    Bytes Exchange(const Bytes& block, std::size_t replyLength = kCleanReply.size())
    {
        EXPECT_TRUE(device.Write(block.data(), block.size()));
        const Bytes reply = TickUntilReply(device, replyLength);
        engine.Tick();
        const Bytes extra = testing::Receive(device, 1, 50ms);
        EXPECT_TRUE(extra.empty()) << "one block, one reply";
        return Join(reply, extra);
    }

    std::vector<testing::ComPair> pairs;
    SerialPort device;
    ManualClock clock;
    SerialPort port;
    PanelEngine engine{port, clock};
};

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

class ComLinkBlockTest : public ComLinkTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(ComLinkBlockTest, IsAnsweredOnTheLineWithTheExactReply)
{
    engine.keys().Press(GetParam().keyBits);
    EXPECT_EQ(Exchange(GetParam().block, GetParam().reply.size()), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ComLinkBlockTest,
    ::testing::Values(BlockCase{"ReadSwitches", kReadSwitches, 0, kCleanReply},
                      BlockCase{"ReadSwitchesWithKeyFourLatched", kReadSwitches, 4, {0x05, 0x01, 0x40, 0x47}},
                      BlockCase{"WriteStringThenReadSwitches",
                                Join({0x01, 0x03, 0x00, 0x00, 0x41, 0x46}, kReadSwitches), 0, kCleanReply},
                      BlockCase{"EndingInCodeFourteen",
                                Frame(kSetContrastAndReplyMode, {0x20, 0x01, 0x00}),
                                0,
                                {0x0E, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18}},
                      BlockCase{"BadChecksum", {0x85, 0x01, 0x00, 0x88}, 0, {0x05, 0x01, 0x01, 0x08}}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return info.param.name; });

TEST_F(ComLinkTest, ABadFunctionCodeIsAnsweredWithBit08OnlyAfterMoreThan120Ms)
{
    const std::uint32_t arrival = clock.NowMs();
    ASSERT_TRUE(device.Write(Bytes{0x00}.data(), 1));
    ASSERT_TRUE(WaitUntil([&] { return engine.receiver().errors() != 0; }));

    for (std::uint32_t quiet : {0u, 60u, 120u}) {
        clock.Set(arrival + quiet);
        engine.Tick();
        EXPECT_TRUE(testing::ReadAll(device).empty()) << quiet << " ms quiet";
    }
    clock.Set(arrival + 121);
    engine.Tick();
    EXPECT_EQ(testing::Receive(device, 4), (Bytes{0x05, 0x01, 0x08, 0x0F}));

    // The error is answered and done with: the next block is served as usual.
    EXPECT_EQ(Exchange(kReadSwitches), kCleanReply);
}

TEST_F(ComLinkTest, SilenceOfMoreThanTenSecondsShowsCommunicationsErrorAndReplies)
{
    engine.Tick();
    clock.Advance(10000);
    engine.Tick();
    EXPECT_TRUE(testing::ReadAll(device).empty());
    EXPECT_EQ(engine.display().changeCount(), 0u);

    clock.Advance(1);
    engine.Tick();
    EXPECT_EQ(testing::Receive(device, 4), (Bytes{0x05, 0x01, 0x01, 0x08}));
    EXPECT_NE(testing::Columns(engine.display(), 3, 4, 64), Bytes(64, 0))
        << "the message is drawn on page 3 from column 4";
}

TEST_F(ComLinkTest, SwitchingPortsUnderTheWaitingReaderLeavesTheLinkOnTheNewPort)
{
    SerialPort otherDevice;
    ASSERT_EQ(otherDevice.OpenCommPort(pairs[1].device), 0);
    testing::Drain(otherDevice);
    for (int round = 0; round < 10; ++round) {
        // As the port dialog does it: pause the link, close, open, resume.
        engine.SetLinkEnabled(false);
        port.Close();
        ASSERT_EQ(port.OpenCommPort(round % 2 == 0 ? pairs[1].panel : pairs[0].panel), 0) << "round " << round;
        engine.SetLinkEnabled(true);
        engine.Tick();
    }
    EXPECT_EQ(Exchange(kReadSwitches), kCleanReply);
    EXPECT_TRUE(testing::ReadAll(otherDevice).empty());
}

TEST_F(ComLinkTest, APulledOutDeviceNeitherSpinsTheReaderNorStopsTheLinkAndReopeningRecovers)
{
    if (!testing::CanPullOut(pairs[0])) {
        GTEST_SKIP() << "no way to pull out the line's device (QUILLON_TEST_UNPLUG_DIR)";
    }
    ASSERT_EQ(Exchange(kReadSwitches), kCleanReply);
    testing::PullOut(pairs[0]);

    // About a second of a dead line, with the supervisor ticking and its
    // clock passing the silence time-out; the reader must sleep through it.
    const auto wallStart = std::chrono::steady_clock::now();
    const auto processStart = testing::ProcessCpuTime();
    const auto ownStart = testing::ThreadCpuTime();
    for (int tick = 0; tick < 20; ++tick) {
        std::this_thread::sleep_for(50ms);
        clock.Advance(600);
        engine.Tick();
    }
    const auto others = (testing::ProcessCpuTime() - processStart) - (testing::ThreadCpuTime() - ownStart);
    const auto wall = std::chrono::steady_clock::now() - wallStart;
    EXPECT_LT(others, wall / 5) << "the reader used "
                                << std::chrono::duration_cast<std::chrono::milliseconds>(others).count()
                                << " ms of CPU in "
                                << std::chrono::duration_cast<std::chrono::milliseconds>(wall).count() << " ms";
    EXPECT_GT(engine.display().changeCount(), 0u) << "the dead line is shown as a communications error";

    testing::PlugIn(pairs[0]);
    ASSERT_TRUE(WaitUntil([&] { return port.OpenCommPort(pairs[0].panel) == 0; }));
    ASSERT_EQ(device.OpenCommPort(pairs[0].device), 0);
    EXPECT_EQ(Exchange(kReadSwitches), kCleanReply);
}

TEST_F(ComLinkTest, TheReaderUsesNoProcessorWhileTheLineIsIdle)
{
    ASSERT_EQ(Exchange(kReadSwitches), kCleanReply);
    // About a second of an idle line, with the supervisor ticking; the reader
    // must sleep through it.
    const auto wallStart = std::chrono::steady_clock::now();
    const auto processStart = testing::ProcessCpuTime();
    const auto ownStart = testing::ThreadCpuTime();
    for (int tick = 0; tick < 20; ++tick) {
        std::this_thread::sleep_for(50ms);
        engine.Tick();
    }
    const auto others = (testing::ProcessCpuTime() - processStart) - (testing::ThreadCpuTime() - ownStart);
    const auto wall = std::chrono::steady_clock::now() - wallStart;
    RecordProperty("reader_cpu_us",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(others).count()));
    EXPECT_LT(others, wall / 5) << "the reader used "
                                << std::chrono::duration_cast<std::chrono::milliseconds>(others).count()
                                << " ms of CPU in "
                                << std::chrono::duration_cast<std::chrono::milliseconds>(wall).count() << " ms";
}

} // namespace
} // namespace quillon
