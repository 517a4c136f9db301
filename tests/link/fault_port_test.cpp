#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "link/fault_port.h"
#include "link/fault_rules.h"
#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

// Every fault event the port told, from either side.
class SinkLog : public LineEventSink {
public:
    void TellFromReader(LinkEvent event) override { events.push_back(event); }
    void TellFromWriter(LinkEvent event) override { events.push_back(event); }
    std::vector<FaultEffect> Effects() const
    {
        std::vector<FaultEffect> effects;
        for (const LinkEvent& event : events) {
            effects.push_back(event.effect);
        }
        return effects;
    }
    std::vector<LinkEvent> events;
};

FaultRule Rule(const std::string& written)
{
    std::string error;
    const auto rule = ParseFaultRule(written, error);
    EXPECT_TRUE(rule) << written << ": " << error;
    return rule.value_or(FaultRule{});
}

Bytes Reply(std::uint8_t status)
{
    const auto frame = ShortStatusFrame(status);
    return {frame.begin(), frame.end()};
}

// A fault port between a queue port (the device's end) and the test, on a
// clock moved by hand.
struct FaultLine {
    explicit FaultLine(std::uint64_t seed = 1)
    {
        faults.SetSeed(seed);
        faults.SetSink(&sink);
    }
    // What the panel's side can read now.
    Bytes Read()
    {
        Bytes bytes;
        std::size_t waiting = 0;
        while (faults.BytesWaiting(waiting) && waiting > 0) {
            std::uint8_t byte = 0;
            EXPECT_TRUE(faults.ReadByte(byte));
            bytes.push_back(byte);
        }
        return bytes;
    }

    QueuePort device;
    ManualClock clock;
    FaultPort faults{device, clock};
    SinkLog sink;
};

TEST(FaultPortTest, ReplyFaultsChangeOnlyWhatCrossesTheLine)
{
    const Bytes r1 = Reply(0x00), r2 = Reply(0x10), r3 = Reply(0x20), r4 = Reply(0x40);
    struct Case {
        const char* written;
        std::vector<Bytes> crossed;
        std::vector<FaultEffect> effects;
    };
    const Bytes r1Corrupt{0x05, 0x01, 0x00, static_cast<std::uint8_t>(0x07 ^ 0xFF)};
    const std::vector<Case> cases{
        {"drop-reply:every=2", {r1, r3}, {FaultEffect::ReplyDropped, FaultEffect::ReplyDropped}},
        {"drop-reply:at=3", {r1, r2, r4}, {FaultEffect::ReplyDropped}},
        {"corrupt-reply:at=1", {r1Corrupt, r2, r3, r4}, {FaultEffect::ReplyCorrupted}},
        {"truncate-reply:every=4", {r1, r2, r3, {0x05, 0x01}}, {FaultEffect::ReplyCut}},
        {"truncate-reply:keep=3,at=2", {r1, {0x05, 0x01, 0x10}, r3, r4}, {FaultEffect::ReplyCut}},
        {"drop-reply:p=1", {}, std::vector<FaultEffect>(4, FaultEffect::ReplyDropped)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        FaultLine line;
        line.faults.Add(Rule(c.written));
        for (const Bytes& reply : {r1, r2, r3, r4}) {
            EXPECT_TRUE(line.faults.Write(reply.data(), reply.size()));
        }
        EXPECT_EQ(line.device.Writes(), c.crossed);
        EXPECT_EQ(line.sink.Effects(), c.effects);
    }
}

// A port that counts the waits handed to it, with how long each was.
class WaitCountingPort : public QueuePort {
public:
    void WaitForInput(int timeoutMs) override { waits.push_back(timeoutMs); }
    std::vector<int> waits;
};

TEST(FaultPortTest, WaitsOnTheLineWhateverTheRulesAndWakesForAnUnplug)
{
    // Waiting is where a TCP line accepts, retries and hears a hang-up: a
    // rule that returned at once instead would leave it never doing so.
    for (const char* written :
         {"drop-reply:every=3", "corrupt-reply:at=1", "flip-bit:p=0.5", "delay-reply:ms=300,every=2"}) {
        SCOPED_TRACE(written);
        WaitCountingPort inner;
        ManualClock clock;
        FaultPort faults(inner, clock);
        faults.Add(Rule(written));
        faults.WaitForInput(50);
        EXPECT_EQ(inner.waits, std::vector<int>{50});
    }
    WaitCountingPort inner;
    ManualClock clock;
    FaultPort faults(inner, clock);
    faults.Add(Rule("unplug:for=1s,after=20ms"));
    faults.WaitForInput(50);
    EXPECT_EQ(inner.waits, std::vector<int>{20});
}

TEST(FaultPortTest, FaultEventsTellTheRuleTheBytesMeantAndWhatWasDone)
{
    FaultLine line;
    line.faults.Add(Rule("corrupt-reply:every=1"));
    const Bytes single{0x20};
    line.faults.Write(single.data(), single.size());
    const Bytes reply = Reply(0x10);
    line.faults.Write(reply.data(), reply.size());

    // A single-byte reply has no checksum: its status is changed instead.
    EXPECT_EQ(line.device.Writes(), (std::vector<Bytes>{{0x21}, {0x05, 0x01, 0x10, 0xE8}}));
    ASSERT_EQ(line.sink.events.size(), 2U);
    const LinkEvent& event = line.sink.events[1];
    EXPECT_EQ(event.kind, LinkEventKind::FaultInjected);
    EXPECT_EQ(event.fault, FaultKind::CorruptReply);
    EXPECT_EQ(std::string(event.rule.data()), "corrupt-reply:every=1");
    EXPECT_EQ(Bytes(event.bytes().begin(), event.bytes().end()), reply);
    EXPECT_EQ(event.value, 3U);
    EXPECT_EQ(event.byte, 0xE8);
    EXPECT_EQ(event.timeMs, line.clock.NowMs());
}

TEST(FaultPortTest, DelayedReplyLeavesOnTimeAndLaterRepliesWaitBehindIt)
{
    FaultLine line;
    line.faults.Add(Rule("delay-reply:ms=300,at=1"));
    const Bytes r1 = Reply(0x00), r2 = Reply(0x10);
    line.faults.Write(r1.data(), r1.size());
    line.clock.Advance(100);
    line.faults.Write(r2.data(), r2.size());
    line.clock.Advance(199);
    line.faults.SendDue();
    EXPECT_TRUE(line.device.Writes().empty());
    line.Read();

    line.clock.Advance(1);
    line.faults.SendDue();
    EXPECT_EQ(line.device.Writes(), (std::vector<Bytes>{Bytes{0x05, 0x01, 0x00, 0x07, 0x05, 0x01, 0x10, 0x17}}));
    ASSERT_EQ(line.sink.events.size(), 1U);
    EXPECT_EQ(line.sink.events[0].effect, FaultEffect::ReplyDelayed);
    EXPECT_EQ(line.sink.events[0].value, 300U);

    // The reader tells the held reply once it has left, and only it: the one
    // behind it had no delay of its own.
    line.Read();
    ASSERT_EQ(line.sink.Effects(), (std::vector{FaultEffect::ReplyDelayed, FaultEffect::HeldReplySent}));
    EXPECT_EQ(Bytes(line.sink.events[1].bytes().begin(), line.sink.events[1].bytes().end()), r1);
    EXPECT_EQ(line.sink.events[1].timeMs, line.clock.NowMs());
    line.Read();
    EXPECT_EQ(line.sink.events.size(), 2U);
}

TEST(FaultPortTest, ByteFaultsActOnTheDeviceBytesBeforeThePanelSeesThem)
{
    const Bytes sent{0x81, 0x02, 0x03, 0x04, 0x05, 0x06};
    struct Case {
        const char* written;
        Bytes received;
        std::vector<FaultEffect> effects;
    };
    const std::vector<Case> cases{
        {"drop-byte:every=3", {0x81, 0x02, 0x04, 0x05}, {FaultEffect::ByteDropped, FaultEffect::ByteDropped}},
        {"drop-byte:at=1", {0x02, 0x03, 0x04, 0x05, 0x06}, {FaultEffect::ByteDropped}},
        {"flip-bit:at=1", {0x80, 0x02, 0x03, 0x04, 0x05, 0x06}, {FaultEffect::BitFlipped}},
        {"flip-bit:bit=7,every=2", {0x81, 0x82, 0x03, 0x84, 0x05, 0x86}, std::vector(3, FaultEffect::BitFlipped)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        FaultLine line;
        line.faults.Add(Rule(c.written));
        line.device.Feed(sent);
        EXPECT_EQ(line.Read(), c.received);
        EXPECT_EQ(line.sink.Effects(), c.effects);
    }
}

TEST(FaultPortTest, UnpluggedLineLosesBothWaysThenComesBack)
{
    FaultLine line;
    line.faults.Add(Rule("unplug:for=2s,after=50ms"));
    const Bytes reply = Reply(0x00);
    line.device.Feed({0x01});
    EXPECT_EQ(line.Read(), Bytes{0x01});

    line.clock.Advance(50);
    line.device.Feed({0x02, 0x03});
    EXPECT_EQ(line.Read(), Bytes{});
    EXPECT_TRUE(line.faults.Write(reply.data(), reply.size()));
    line.clock.Advance(1999);
    line.device.Feed({0x04});
    EXPECT_EQ(line.Read(), Bytes{});

    line.clock.Advance(1);
    line.device.Feed({0x05});
    EXPECT_EQ(line.Read(), Bytes{0x05});
    line.faults.Write(reply.data(), reply.size());
    EXPECT_EQ(line.device.Writes(), std::vector<Bytes>{reply});
    EXPECT_EQ(line.sink.Effects(),
              (std::vector{FaultEffect::LineUnplugged, FaultEffect::ReplyLost, FaultEffect::LineBack}));
    EXPECT_EQ(line.sink.events.front().value, 2000U);
    EXPECT_EQ(line.sink.events.back().value, 3U);
}

// Which of 200 replies a rule drops.
std::vector<bool> DroppedBy(const std::string& written, std::uint64_t seed)
{
    FaultLine line(seed);
    line.faults.Add(Rule(written));
    std::vector<bool> dropped;
    const Bytes reply = Reply(0x00);
    for (int i = 0; i < 200; ++i) {
        const std::size_t before = line.device.Writes().size();
        line.faults.Write(reply.data(), reply.size());
        dropped.push_back(line.device.Writes().size() == before);
    }
    return dropped;
}

TEST(FaultPortTest, TheSameSeedGivesTheSameFaults)
{
    const auto first = DroppedBy("drop-reply:p=0.25", 7);
    EXPECT_EQ(DroppedBy("drop-reply:p=0.25", 7), first);
    EXPECT_NE(DroppedBy("drop-reply:p=0.25", 8), first);
    const auto count = std::count(first.begin(), first.end(), true);
    EXPECT_GT(count, 25);
    EXPECT_LT(count, 75);
}

TEST(FaultPortTest, WithNoRuleOrAfterClearEveryByteGoesStraightThrough)
{
    FaultLine line;
    const Bytes block = Frame(0x05, {0x00});
    line.device.Feed(block);
    EXPECT_EQ(line.Read(), block);
    const auto id = line.faults.Add(Rule("drop-reply:every=1"));
    line.faults.Add(Rule("drop-byte:every=1"));
    line.faults.Remove(id);
    EXPECT_EQ(line.faults.Rules(), std::vector<std::string>{"drop-byte:every=1"});
    line.faults.Clear();
    line.device.Feed(block);
    EXPECT_EQ(line.Read(), block);
    const Bytes reply = Reply(0x00);
    line.faults.Write(reply.data(), reply.size());
    EXPECT_EQ(line.device.Writes(), std::vector<Bytes>{reply});
    EXPECT_TRUE(line.sink.events.empty());
}

TEST(FaultPortTest, EngineTellsTheReplyThenWhatTheFaultDidToIt)
{
    FaultyEngine panel;
    EventLog log;
    panel.engine.SetObserver(&log);
    panel.Add("drop-reply:every=1");
    panel.Exchange(Frame(0x05, {0x00}));

    EXPECT_TRUE(panel.device.Writes().empty());
    std::vector<LinkEventKind> kinds;
    for (const LinkEvent& event : log.events) {
        kinds.push_back(event.kind);
    }
    ASSERT_GE(kinds.size(), 2U);
    EXPECT_EQ(kinds[kinds.size() - 2], LinkEventKind::ReplySent);
    EXPECT_EQ(kinds.back(), LinkEventKind::FaultInjected);
    EXPECT_EQ(log.events.back().block, log.events[kinds.size() - 2].block);
    EXPECT_EQ(Bytes(log.events.back().bytes().begin(), log.events.back().bytes().end()), Reply(0x00));
}

// A slow panel holds the block it completed before answering: the device's
// bytes meanwhile are refused as bytes during a complete block, and the
// reply goes at the first tick the hold has passed.
TEST(FaultPortTest, HoldReplyKeepsTheBlockCompleteAndRefusesWhatComesMeanwhile)
{
    FaultyEngine panel;
    EventLog log;
    panel.engine.SetObserver(&log);
    panel.Add("hold-reply:ms=50,at=1");
    panel.Exchange(Frame(0x05, {0x00}));
    EXPECT_TRUE(panel.device.Writes().empty());
    ASSERT_EQ(log.Of(LinkEventKind::FaultInjected).size(), 1U);
    EXPECT_EQ(log.Of(LinkEventKind::FaultInjected)[0].effect, FaultEffect::BlockHeld);

    panel.device.Feed(Frame(0x05, {0x00}));
    while (panel.engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    for (int ms = 10; ms < 50; ms += 10) {
        panel.clock.Advance(10);
        panel.engine.Tick();
    }
    EXPECT_TRUE(panel.device.Writes().empty());
    ASSERT_FALSE(log.Of(LinkEventKind::ErrorRaised).empty());
    EXPECT_EQ(log.Of(LinkEventKind::ErrorRaised)[0].rxErrors, kRxByteDuringCompleteBlock);

    panel.clock.Advance(10);
    panel.engine.Tick();
    EXPECT_EQ(panel.device.Writes(), std::vector<Bytes>{Reply(0x00)});
    // The refused block is answered with an error once the line is quiet;
    // the next block, with the rule spent, at once.
    panel.clock.Advance(130);
    panel.engine.Tick();
    ASSERT_EQ(panel.device.Writes().size(), 2U);
    EXPECT_NE(panel.device.Writes()[1][2] & kStatusErrorMask, 0);
    panel.Exchange(Frame(0x05, {0x00}));
    EXPECT_EQ(panel.device.Writes().size(), 3U);
}

TEST(FaultRulesTest, RulesAreReadAndWrittenBack)
{
    const std::vector<std::pair<std::string, std::string>> good{
        {"drop-reply:every=5", "drop-reply:every=5"},
        {"delay-reply:p=0.05,ms=300", "delay-reply:ms=300,p=0.05"},
        {"truncate-reply:at=2", "truncate-reply:at=2"},
        {"flip-bit:p=1", "flip-bit:bit=0,p=1"},
        {"unplug:for=2s", "unplug:for=2000ms,after=0ms"},
        {"unplug:after=1.5s,for=500ms", "unplug:for=500ms,after=1500ms"},
    };
    for (const auto& [written, text] : good) {
        std::string error;
        const auto rule = ParseFaultRule(written, error);
        ASSERT_TRUE(rule) << written << ": " << error;
        EXPECT_EQ(FaultRuleText(*rule), text);
        EXPECT_EQ(FaultRuleText(*ParseFaultRule(text, error)), text);
    }
    EXPECT_EQ(FaultRuleWords("delay-reply:ms=300,p=0.05"), "delay-reply ms 300, p 0.05");
}

TEST(FaultRulesTest, NonsenseIsRefusedWithTheReason)
{
    const std::vector<std::pair<std::string, std::string>> bad{
        {"lose-reply:every=2", "the kinds are drop-reply, corrupt-reply, delay-reply, truncate-reply, drop-byte, "
                               "flip-bit, unplug, hold-reply"},
        {"drop-reply:every=0", "every needs a whole number of events from 1"},
        {"drop-reply:p=1.5", "p needs a chance above 0 and at most 1"},
        {"drop-reply:p=nan", "p needs a chance"},
        {"delay-reply:ms=-1,every=2", "ms needs a whole number of milliseconds from 1 to 60000"},
        {"delay-reply:every=2", "delay-reply needs ms="},
        {"drop-reply", "needs a trigger"},
        {"drop-reply:every=2,at=3", "give one trigger"},
        {"drop-reply:every=2,every=3", "\"every\" is given twice"},
        {"drop-reply:ms=3,every=1", "it takes no key \"ms\"; it takes every=, at= or p="},
        {"unplug:every=3", "it takes no key \"every\"; it takes for=, after="},
        {"unplug:after=1s", "unplug needs for="},
        {"unplug:for=2", "for needs a time from 1 ms to an hour with its unit, such as 2s or 500ms (2s or 2ms?)"},
        {"unplug:for=1s,after=500", "after needs a time from 0 to a day with its unit, such as 10s or 500ms (500s"},
        {"flip-bit:bit=8,every=1", "bit needs a bit number from 0 to 7"},
        {"drop-byte:every", "\"every\" is not KEY=VALUE"},
        {"drop-reply:every=1," + std::string(240, 'x'), "a fault is at most 256 characters"},
    };
    for (const auto& [written, reason] : bad) {
        std::string error;
        EXPECT_FALSE(ParseFaultRule(written, error)) << written;
        EXPECT_NE(error.find(reason), std::string::npos) << written << " gave: " << error;
    }
    std::string error;
    EXPECT_FALSE(ParseFaultFields("drop-reply", {{"every", "3,at=2"}}, error));
}

} // namespace
} // namespace quillon::testing
