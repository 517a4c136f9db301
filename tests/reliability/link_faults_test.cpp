// Faults on the line, played against the engine with the hand-driven clock:
// a device that vanishes in the middle of a block, minutes of garbage at full
// line rate, a flood while a block waits for its reply, and a port switch in
// the middle of a block. After each the link must answer the next good block
// exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/reliability/resident_memory.h"
#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

const Bytes kReadSwitches{0x85, 0x01, 0x00, 0x87};
const Bytes kAnswer{0x05, 0x01, 0x00, 0x07};
const Bytes kSilenceAnswer{0x05, 0x01, 0x01, 0x08};
const Bytes kErrorAnswer{0x05, 0x01, 0x08, 0x0F};

// At 9600 baud, 8N1, a byte takes 10 bit times: 96 bytes per 100 ms.
constexpr int kBytesPer100Ms = 96;

bool IsWellFormedReply(const Bytes& write)
{
    if (write.size() == 4) {
        const auto expected = ShortStatusFrame(write[2]);
        return Bytes(expected.begin(), expected.end()) == write && (write[2] & 0x06) == 0;
    }
    if (write.size() == 12) {
        const auto expected = LongStatusFrame(write[2]);
        return Bytes(expected.begin(), expected.end()) == write && (write[2] & 0x06) == 0;
    }
    return false;
}

class LinkFaultTest : public ::testing::Test {
protected:
    // Ticks every 10 ms for `ms`, the line quiet; returns the writes.
    std::vector<Bytes> Quiet(std::uint32_t ms)
    {
        for (std::uint32_t t = 0; t < ms; t += 10) {
            f.clock.Advance(10);
            f.engine.Tick();
        }
        return TakeWrites();
    }

    // Sends bytes at line rate, ticking every 10 ms as the panel view does.
    void AtLineRate(const Bytes& bytes)
    {
        std::size_t sent = 0;
        int slice = 0;
        while (sent < bytes.size()) {
            // 96 bytes per ten slices: six slices of ten bytes, four of nine.
            const std::size_t count = std::min<std::size_t>(slice % 10 < 6 ? 10 : 9, bytes.size() - sent);
            f.Receive(Bytes(bytes.begin() + sent, bytes.begin() + sent + count));
            sent += count;
            ++slice;
            f.clock.Advance(10);
            f.engine.Tick();
        }
    }

    std::vector<Bytes> TakeWrites()
    {
        auto writes = f.port.Writes();
        f.port.TakeWritten();
        return writes;
    }

    EngineFixture f;
};

// How the device end goes away in the middle of a block.
enum class Vanish {
    PortGone,   // the port can no longer be queried and writes fail (cable pulled)
    DeviceMute, // the line stays up but the device sends nothing more
};

class DeviceVanishesTest : public LinkFaultTest, public ::testing::WithParamInterface<Vanish> {};

TEST_P(DeviceVanishesTest, MidBlockGivesCommunicationsErrorEvery10001MsAndTheLinkRecovers)
{
    const Bytes writeString{0x01, 0x03, 0x00, 0x00, 0x41, 0x46};
    f.Receive(Bytes(writeString.begin(), writeString.begin() + 3));
    ASSERT_TRUE(TakeWrites().empty());
    if (GetParam() == Vanish::PortGone) {
        f.port.queryFails = true;
        f.port.writeFails = true;
    }

    const auto writes = Quiet(60000);
    EXPECT_EQ(writes, std::vector<Bytes>(5, kSilenceAnswer)) << "one silence reply per 10 001 ms or more";
    DisplayController reference;
    reference.PutString("Communications Error", 11, 4, true);
    EXPECT_EQ(PagesOf(f.display()), PagesOf(reference.memory()));

    f.port.queryFails = false;
    f.port.writeFails = false;
    EXPECT_EQ(f.Exchange(kReadSwitches), kAnswer) << "the half block is given up";
}

INSTANTIATE_TEST_SUITE_P(Faults, DeviceVanishesTest, ::testing::Values(Vanish::PortGone, Vanish::DeviceMute),
                         [](const ::testing::TestParamInfo<Vanish>& info) {
                             return info.param == Vanish::PortGone ? "PortGone" : "DeviceMute";
                         });

TEST_F(LinkFaultTest, GarbageAtFullLineRateForFiveMinutesKeepsTheLinkAnsweringInFlatMemory)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byteValue(0, 255);
    // Bursts of 0.1 to 5 s of garbage, then 0 to 300 ms of quiet.
    std::uniform_int_distribution<int> burstBytes(kBytesPer100Ms, 50 * kBytesPer100Ms);
    std::uniform_int_distribution<int> quietMs(0, 30);

    long residentAfterWarmUp = 0;
    int gapsOwingAReply = 0;
    std::uint32_t lineMs = 0;
    while (lineMs < 5 * 60 * 1000) {
        Bytes burst(static_cast<std::size_t>(burstBytes(random)));
        for (auto& byte : burst) {
            byte = static_cast<std::uint8_t>(byteValue(random));
        }
        AtLineRate(burst);
        lineMs += static_cast<std::uint32_t>(burst.size() * 100 / kBytesPer100Ms);
        // Garbage can hold a well-formed block now and then; its reply must
        // be well formed too.
        for (const auto& write : TakeWrites()) {
            ASSERT_TRUE(IsWellFormedReply(write)) << "after " << lineMs << " ms of line time";
        }

        // A receive error is owed its reply once the line has been quiet for
        // more than 120 ms, and gets exactly one.
        const bool errorPending = f.engine.receiver().errors() != 0;
        const std::uint32_t quiet = static_cast<std::uint32_t>(quietMs(random)) * 10;
        const auto writes = Quiet(quiet);
        lineMs += quiet;
        for (const auto& write : writes) {
            ASSERT_TRUE(IsWellFormedReply(write)) << "after " << lineMs << " ms of line time";
        }
        // The last byte came in during the burst's final 10 ms slice.
        if (errorPending && quiet + 10 > 120) {
            ++gapsOwingAReply;
            ASSERT_EQ(writes.size(), 1u) << "after " << lineMs << " ms of line time";
            EXPECT_NE(writes[0][2] & kStatusFrameError, 0);
            EXPECT_EQ(f.engine.receiver().errors(), 0);
        } else {
            ASSERT_TRUE(writes.empty()) << "after " << lineMs << " ms of line time";
        }
        f.runs.Clear();
        if (residentAfterWarmUp == 0 && lineMs > 60 * 1000) {
            residentAfterWarmUp = ResidentKilobytes();
        }
    }
    EXPECT_GT(gapsOwingAReply, 20) << "the run must exercise the error reply";
    RecordProperty("error_replies", gapsOwingAReply);

    // Whatever the garbage left behind is cleared by the silence time-out at
    // the latest; then a good block gets its exact answer.
    Quiet(10010);
    EXPECT_EQ(f.Exchange(kReadSwitches), kAnswer);

    const long growth = ResidentKilobytes() - residentAfterWarmUp;
    RecordProperty("resident_growth_kb", static_cast<int>(growth));
    if (kResidentSizeIsMeaningful) {
        EXPECT_LT(growth, 8 * 1024) << "resident memory grew by " << growth << " kB over four minutes of garbage";
    }
}

TEST_F(LinkFaultTest, FloodWhileABlockWaitsForItsReplyIsDroppedAndAnsweredOnce)
{
    EventLog log;
    f.engine.SetObserver(&log);
    f.Receive(kReadSwitches);
    // The flood holds frames that would draw if they were taken in.
    Bytes flood;
    for (int i = 0; i < 60; ++i) {
        const Bytes draw = Frame(kWriteArray, {0, 0, 0xFF, 0xFF, 0xFF}, i % 2 == 0);
        flood.insert(flood.end(), draw.begin(), draw.end());
    }
    f.Receive(flood);
    EXPECT_EQ(f.port.Queued(), 0u) << "every byte is read and dropped";

    f.engine.Tick();
    EXPECT_EQ(TakeWrites(), std::vector<Bytes>{kAnswer}) << "the block gets its own reply";
    const auto executed = log.Of(LinkEventKind::FrameExecuted);
    ASSERT_EQ(executed.size(), 1u);
    EXPECT_EQ(Bytes(executed[0].bytes().begin(), executed[0].bytes().end()), kReadSwitches)
        << "the block in the buffer is untouched";
    for (const auto& raised : log.Of(LinkEventKind::ErrorRaised)) {
        EXPECT_EQ(raised.rxErrors, kRxByteDuringCompleteBlock);
    }
    // Every refused byte is told: one by one while the event queue has room,
    // then as a count, so the queue never overflows and loses frames.
    std::size_t refused = 0;
    for (const auto& byte : log.Of(LinkEventKind::ByteReceived)) {
        refused += byte.rxErrors == kRxByteDuringCompleteBlock ? 1 : 0;
    }
    for (const auto& counted : log.Of(LinkEventKind::BytesRefused)) {
        EXPECT_EQ(counted.rxErrors, kRxByteDuringCompleteBlock);
        refused += counted.value;
    }
    EXPECT_EQ(refused, flood.size());
    EXPECT_FALSE(log.Of(LinkEventKind::BytesRefused).empty());
    EXPECT_TRUE(log.Of(LinkEventKind::EventsDropped).empty());
    EXPECT_TRUE(f.runs.runs.empty()) << "nothing of the flood is drawn";
    EXPECT_TRUE(Quiet(120).empty());
    EXPECT_EQ(Quiet(10), std::vector<Bytes>{kErrorAnswer}) << "then one error reply for the flood";
    EXPECT_TRUE(Quiet(5000).empty());
    EXPECT_EQ(f.Exchange(kReadSwitches), kAnswer);
}

// The supervisor may fall behind the line: a reply written to a stalled port
// holds the tick for up to 10 ms per byte plus 100 ms. Garbage that keeps
// coming meanwhile overflows the buffer and the receive index wraps round;
// the frames already counted must still be the ones that arrived, not be
// overwritten and taken for a block that never came.
TEST_F(LinkFaultTest, IndexWrappingWhileTheSupervisorLagsLeavesCountedFramesAlone)
{
    // Three frames of a block, the first drawing a known column run.
    EventLog log;
    f.engine.SetObserver(&log);
    const Bytes draw = Frame(kWriteArray, {10, 2, 0x3C, 0x42}, false);
    const Bytes readSwitches = Frame(FunctionCode::kReadSwitches, {0x00}, false);
    f.Receive(draw);
    f.Receive(readSwitches);
    f.Receive(readSwitches);
    // Garbage that, stored from index 0 again, would read as a one-frame
    // block with bit 7 set over the first frame.
    Bytes garbage(256 - draw.size() - 2 * readSwitches.size(), 0x00);
    const Bytes lookalike{0x85, 0x01, 0x00, 0x87};
    garbage.insert(garbage.end(), lookalike.begin(), lookalike.end());
    f.Receive(garbage);

    f.engine.Tick();
    EXPECT_TRUE(TakeWrites().empty()) << "no block was completed, so nothing is answered yet";
    const auto executed = log.Of(LinkEventKind::FrameExecuted);
    ASSERT_EQ(executed.size(), 3u) << "the three frames counted before the overflow";
    EXPECT_EQ(Bytes(executed[0].bytes().begin(), executed[0].bytes().end()), draw)
        << "the first counted frame is not overwritten";
    EXPECT_EQ(Columns(f.display(), 2, 10, 2), (Bytes{0x3C, 0x42})) << "the frame that arrived is the one executed";
    EXPECT_TRUE(Quiet(120).empty());
    EXPECT_EQ(Quiet(10), std::vector<Bytes>{kErrorAnswer}) << "the overflow gets its one error reply";
    EXPECT_EQ(f.Exchange(kReadSwitches), kAnswer);
}

struct SwitchCase {
    const char* name;
    Bytes oldPortSent;    // what the old port delivered before the switch
    Bytes newDeviceSends; // the first block on the new port
    std::vector<Bytes> firstAnswer;
    std::uint32_t answeredWithinMs;
};

class PortSwitchTest : public LinkFaultTest, public ::testing::WithParamInterface<SwitchCase> {};

// The link is paused while the Comms Port dialog closes one port and opens
// another, and the receive state is left as it was: the first block on the
// new port continues whatever the old port left half done. Either way the
// link answers, at the latest after the silence time-out, and then serves
// every block.
TEST_P(PortSwitchTest, MidBlockIsAnsweredAndTheNextBlockIsServed)
{
    const SwitchCase& c = GetParam();
    f.Receive(c.oldPortSent);
    f.engine.Tick();
    ASSERT_TRUE(TakeWrites().empty());

    f.engine.SetLinkEnabled(false);
    f.port.queryFails = true;
    f.engine.Tick();
    f.port.queryFails = false;
    f.engine.SetLinkEnabled(true);

    f.Receive(c.newDeviceSends);
    std::vector<Bytes> writes;
    std::uint32_t waited = 0;
    while (writes.empty() && waited <= c.answeredWithinMs) {
        writes = Quiet(10);
        waited += 10;
    }
    EXPECT_EQ(writes, c.firstAnswer);
    EXPECT_LE(waited, c.answeredWithinMs);
    EXPECT_EQ(f.Exchange(kReadSwitches), kAnswer);
}

INSTANTIATE_TEST_SUITE_P(Faults, PortSwitchTest,
                         ::testing::Values(
                             // A whole non-last frame: the new block becomes the rest of its block.
                             SwitchCase{"AfterACompleteFrame", {0x05, 0x01, 0x00, 0x07}, kReadSwitches, {kAnswer}, 10},
                             // Only a code byte: the new block's code byte is taken as a length
                             // above 117, a receive error answered after 120 ms of quiet.
                             SwitchCase{"AfterACodeByte", {0x02}, kReadSwitches, {kErrorAnswer}, 130},
                             // Half a frame that the new block completes with a wrong checksum and
                             // no last-frame bit: only the silence time-out answers.
                             SwitchCase{
                                 "InsideAFrame", {0x01, 0x05, 0x00, 0x00}, kReadSwitches, {kSilenceAnswer}, 10010}),
                         [](const ::testing::TestParamInfo<SwitchCase>& info) { return info.param.name; });

} // namespace
} // namespace quillon::testing
