#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/paced_port.h"
#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

constexpr std::uint32_t kBaud = 9600;
// The clock moves in steps this long while the line is driven.
constexpr std::uint64_t kStepUs = 100;

// When the last bit of the nth byte of a busy stretch arrives, in
// microseconds from the stretch's start: 10 bits a byte.
double ByteEndUs(std::size_t n)
{
    return static_cast<double>(n) * 10.0 * 1e6 / kBaud;
}

// A block that fills the receive buffer: one WRITE ARRAY frame of 120 bytes.
Bytes FullBlock()
{
    Bytes data{0, 0};
    for (int i = 0; data.size() < kMaxFrameDataLength; ++i) {
        data.push_back(static_cast<std::uint8_t>(i));
    }
    return Frame(0x02, data);
}

// The engine on a paced line to a queue port, the clock driven by hand.
struct PacedLine {
    PacedLine()
    {
        engine.SetLinkEnabled(true);
        engine.SetObserver(&log);
    }

    // Lets the receiver and the sender do what the clock now allows.
    void Pass()
    {
        while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
        }
        paced.SendDue();
    }
    // Moves the clock a step at a time, passing at each, until done() or
    // about a second has gone by.
    template <typename Done> void DriveUntil(Done done)
    {
        for (int step = 0; step < 10000 && !done(); ++step) {
            clock.AdvanceMicros(kStepUs);
            Pass();
        }
    }

    QueuePort device;
    ManualClock clock;
    PacedPort paced{device, clock, kBaud};
    PanelEngine engine{paced, clock};
    EventLog log;
};

TEST(PacedPortTest, BlockReachesTheReceiverAsOnTheCable)
{
    PacedLine line;
    const Bytes block = FullBlock();
    ASSERT_EQ(block.size(), kRxBufferSize);
    const std::uint64_t sentUs = line.clock.NowMicros();
    line.device.Feed(block);
    line.Pass();
    line.DriveUntil([&] { return line.engine.receiver().framesReceived() == 1; });
    line.engine.Tick();

    const auto bytes = line.log.Of(LinkEventKind::ByteReceived);
    ASSERT_EQ(bytes.size(), block.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        SCOPED_TRACE("byte " + std::to_string(i + 1));
        EXPECT_EQ(bytes[i].byte, block[i]);
        // Never before its last bit is in, and taken within a clock step.
        const double sinceSent = static_cast<double>(bytes[i].timeUs - sentUs);
        EXPECT_GE(sinceSent, ByteEndUs(i + 1));
        EXPECT_LT(sinceSent, ByteEndUs(i + 1) + kStepUs);
    }
    const std::uint64_t spanUs = bytes.back().timeUs - bytes.front().timeUs;
    EXPECT_NEAR(static_cast<double>(spanUs), 125000.0, 2000.0);
}

TEST(PacedPortTest, ReplyLeavesAtLineRateWithoutHoldingTheTick)
{
    PacedLine line;
    line.device.Feed({0x85, 0x01, 0x00, 0x87});
    line.Pass();
    line.DriveUntil([&] { return line.engine.receiver().framesReceived() == 1; });
    line.engine.Tick();
    const auto replies = line.log.Of(LinkEventKind::ReplySent);
    ASSERT_EQ(replies.size(), 1u);
    const std::uint64_t repliedUs = replies.front().timeUs;
    // The write returned with nothing on the cable yet.
    EXPECT_TRUE(line.device.Writes().empty());

    std::vector<std::uint64_t> handedOverUs;
    line.DriveUntil([&] {
        while (handedOverUs.size() < line.device.Writes().size()) {
            handedOverUs.push_back(line.clock.NowMicros());
        }
        return handedOverUs.size() == 4;
    });
    EXPECT_EQ(line.device.Writes(), (std::vector<Bytes>{{0x05}, {0x01}, {0x00}, {0x07}}));
    ASSERT_EQ(handedOverUs.size(), 4u);
    for (std::size_t i = 0; i < handedOverUs.size(); ++i) {
        SCOPED_TRACE("reply byte " + std::to_string(i + 1));
        const double sinceReply = static_cast<double>(handedOverUs[i] - repliedUs);
        EXPECT_GE(sinceReply, ByteEndUs(i + 1));
        EXPECT_LE(sinceReply, ByteEndUs(i + 1) + kStepUs);
    }
}

TEST(PacedPortTest, BytesQueueBehindABusyLineAndAnIdleLineStartsAfresh)
{
    struct Case {
        const char* what;
        std::vector<std::uint64_t> sentUs;
        std::vector<std::uint64_t> arrivalUs;
    };
    const std::vector<Case> cases{
        {"back to back", {0, 0, 0}, {1042, 2084, 3125}},
        {"sent while the line is busy", {0, 500, 1500}, {1042, 2084, 3125}},
        {"the line idle in between", {0, 5000, 5000}, {1042, 6042, 7084}},
        {"sent as the last one arrives", {0, 1042}, {1042, 2084}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LineSchedule schedule(kBaud);
        std::vector<std::uint64_t> arrivals;
        for (const std::uint64_t sent : c.sentUs) {
            arrivals.push_back(schedule.Next(sent));
        }
        EXPECT_EQ(arrivals, c.arrivalUs);
    }
    // Rounding up each byte never adds up over a long stretch.
    LineSchedule schedule(kBaud);
    std::uint64_t last = 0;
    for (int i = 0; i < 9600; ++i) {
        last = schedule.Next(0);
    }
    EXPECT_EQ(last, 10000000u);
}

TEST(PacedPortTest, BytesOnTheCableArriveAfterTheFarEndHasGone)
{
    QueuePort device;
    ManualClock clock;
    PacedPort paced(device, clock, kBaud);
    device.Feed({1, 2});
    std::size_t count = 99;
    ASSERT_TRUE(paced.BytesWaiting(count));
    EXPECT_EQ(count, 0u);

    device.queryFails = true;
    clock.AdvanceMicros(1100);
    ASSERT_TRUE(paced.BytesWaiting(count));
    EXPECT_EQ(count, 1u);
    std::uint8_t byte = 0;
    ASSERT_TRUE(paced.ReadByte(byte));
    EXPECT_EQ(byte, 1);
    EXPECT_FALSE(paced.ReadByte(byte));
    clock.AdvanceMicros(1000);
    ASSERT_TRUE(paced.ReadByte(byte));
    EXPECT_EQ(byte, 2);
    EXPECT_FALSE(paced.BytesWaiting(count));
}

TEST(PacedPortTest, RateZeroLeavesTheLineAsFastAsTheLink)
{
    QueuePort device;
    ManualClock clock;
    PacedPort paced(device, clock, 0);
    device.Feed({1, 2, 3});
    std::size_t count = 0;
    ASSERT_TRUE(paced.BytesWaiting(count));
    EXPECT_EQ(count, 3u);
    std::uint8_t byte = 0;
    ASSERT_TRUE(paced.ReadByte(byte));
    EXPECT_EQ(byte, 1);
    const std::uint8_t reply[] = {5, 1, 0, 7};
    ASSERT_TRUE(paced.Write(reply, sizeof reply));
    EXPECT_EQ(device.Writes(), (std::vector<Bytes>{{5, 1, 0, 7}}));
}

TEST(PacedPortTest, SenderThreadHandsOverInOrderAndStopsWithBytesStillDue)
{
    QueuePort device;
    ManualClock clock;
    PacedPort paced(device, clock, kBaud);
    paced.Start();
    const std::uint8_t reply[] = {5, 1, 0, 7};
    ASSERT_TRUE(paced.Write(reply, sizeof reply));
    clock.Advance(5);
    ASSERT_TRUE(device.WaitForWrites(4, std::chrono::seconds(5)));
    EXPECT_EQ(device.TakeWritten(), (Bytes{5, 1, 0, 7}));

    // A long write that is nowhere near its time does not hold up the stop.
    const std::vector<std::uint8_t> longer(PacedPort::kMaxQueued, 0x55);
    ASSERT_TRUE(paced.Write(longer.data(), longer.size()));
    EXPECT_FALSE(paced.Write(reply, 1));
    paced.Stop();
    EXPECT_TRUE(device.Writes().empty());
}

TEST(PacedPortTest, LineRateIsReadOrRefusedWithTheReason)
{
    struct Case {
        const char* text;
        std::optional<std::uint32_t> baud;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"9600", 9600, ""},
        {"0", 0, ""},
        {"110", 110, ""},
        {"4000000", 4000000, ""},
        {"", std::nullopt, "no line rate given"},
        {"-9600", std::nullopt, "is negative"},
        {"-0", std::nullopt, "is negative"},
        {"109", std::nullopt, "below the slowest, 110 baud"},
        {"4000001", std::nullopt, "above the fastest, 4000000 baud"},
        {"99999999999999999999999", std::nullopt, "above the fastest"},
        {"fast", std::nullopt, "is not a whole number"},
        {"96.5", std::nullopt, "is not a whole number"},
        {"9600baud", std::nullopt, "is not a whole number"},
        {"+9600", std::nullopt, "is not a whole number"},
        {" 9600", std::nullopt, "is not a whole number"},
        {"-", std::nullopt, "is not a whole number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        std::string error;
        EXPECT_EQ(ParseLineRate(c.text, error), c.baud);
        if (c.baud) {
            EXPECT_EQ(error, "");
        } else {
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
            EXPECT_NE(error.find("from 110 to 4000000, or 0"), std::string::npos) << error;
        }
    }
}

} // namespace
} // namespace quillon::testing
