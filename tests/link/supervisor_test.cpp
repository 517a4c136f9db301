#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

const Bytes kReadSwitchesBlock{0x85, 0x01, 0x00, 0x87};
const Bytes kAnswer{0x05, 0x01, 0x00, 0x07};
const Bytes kErrorAnswer{0x05, 0x01, 0x08, 0x0F};
const Bytes kSilenceAnswer{0x05, 0x01, 0x01, 0x08};
const Bytes kRequest(kSynchRequest.begin(), kSynchRequest.end());

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class SupervisorTest : public ::testing::Test {
protected:
    // Ticks every 10 ms until `ms` have passed; returns what was written.
    Bytes TickFor(std::uint32_t ms)
    {
        for (std::uint32_t t = 0; t < ms; t += 10) {
            f.clock.Advance(10);
            f.engine.Tick();
        }
        return f.port.TakeWritten();
    }

    Bytes Tick()
    {
        f.engine.Tick();
        return f.port.TakeWritten();
    }

    EngineFixture f;
};

TEST_F(SupervisorTest, OneFrameBlockIsAnsweredWithTheShortStatusFrameAndTheNextBlockToo)
{
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), kAnswer);
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), kAnswer);
}

TEST_F(SupervisorTest, LatchedKeyTravelsInTheReply)
{
    f.engine.keys().Press(kKeyUp);
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), (Bytes{0x05, 0x01, 0x40, 0x47}));
}

TEST_F(SupervisorTest, FramesOfABlockAreExecutedAsTheyArriveAndTheLastIsAnswered)
{
    f.Receive(Frame(kWriteString, {0x00, 0x00, 'A'}, false));
    EXPECT_TRUE(Tick().empty()) << "no reply before the block's last frame";
    EXPECT_EQ(f.runs.Places(), (std::vector<RunPlace>{{0, 0, 6}})) << "the first frame has already drawn";

    // The second frame is read where the first one ends.
    f.Receive(Frame(kWriteArray, {20, 4, 0x3C}));
    EXPECT_EQ(Tick(), kAnswer);
    EXPECT_EQ(f.runs.Places(), (std::vector<RunPlace>{{0, 0, 6}, {20, 4, 1}}));
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), kAnswer) << "the next block is read from its start";
}

TEST_F(SupervisorTest, BlockEndingInFunctionCode14GetsTheLongStatusFrame)
{
    const Bytes block = Frame(kSetContrastAndReplyMode, {0x20, 0x01, 0x00});
    f.engine.keys().Press(kKeyRight);
    f.engine.keys().Release();
    EXPECT_EQ(f.Exchange(block), (Bytes{0x0E, 0x09, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x28}));
    // The next block in the same mode gets the short frame again.
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), kAnswer);
}

TEST_F(SupervisorTest, LongStatusReplyClearsTheBlockSoALaterErrorReplyIsShort)
{
    // A byte after the complete block is a receive error, answered on its
    // own once the line is quiet; the block it followed is gone by then.
    f.Receive(Concat({Frame(kSetContrastAndReplyMode, {0x20, 0x01, 0x00}), {0x33}}));
    EXPECT_EQ(Tick().size(), 12u);
    EXPECT_EQ(TickFor(150), kErrorAnswer);
}

TEST_F(SupervisorTest, SwitchingToSingleByteRepliesAppliesToTheSameBlock)
{
    const Bytes block = Frame(kSetContrastAndReplyMode, {0x20, 0xFF, 0xFF});
    EXPECT_EQ(f.Exchange(block), (Bytes{0x00}));
    f.engine.keys().Press(kKeyDown);
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), (Bytes{0x80}));
    EXPECT_FALSE(f.engine.synchRequired()) << "the synch flag is the settings' alone";
}

TEST_F(SupervisorTest, ChecksumErrorReachesTheDevice)
{
    EXPECT_EQ(f.Exchange({0x85, 0x01, 0x00, 0x88}), (Bytes{0x05, 0x01, 0x01, 0x08}));
    // Error bits are cleared by the reply.
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), kAnswer);
}

TEST_F(SupervisorTest, ReceiveErrorIsAnsweredOnlyAfterMoreThan120MsOfQuiet)
{
    f.engine.keys().Press(kKeyLeft);
    const std::uint32_t lastByte = f.clock.NowMs();
    f.Receive({0x00}); // bad function code
    f.clock.Set(lastByte + 120);
    EXPECT_TRUE(Tick().empty()) << "120 ms is not yet more than 120 ms";
    f.clock.Set(lastByte + 121);
    EXPECT_EQ(Tick(), (Bytes{0x05, 0x01, 0x28, 0x2F}));
    EXPECT_TRUE(TickFor(1000).empty()) << "the error is answered once";
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), (Bytes{0x05, 0x01, 0x20, 0x27})) << "the link works again";
}

TEST_F(SupervisorTest, ByteBetweenTheLastFrameAndTheReplyCausesASecondErrorReply)
{
    f.Receive(Concat({kReadSwitchesBlock, {0x33}}));
    EXPECT_EQ(Tick(), kAnswer);
    EXPECT_EQ(TickFor(150), kErrorAnswer) << "the reply does not clear receive errors";
}

TEST_F(SupervisorTest, ErrorReplyAfterAFullFrameAndOverflowIsTheShortFrame)
{
    // A 120-byte frame without bit 7 leaves the processing one past the
    // buffer; the error reply must not read there.
    f.Receive(EncodeFrame(kWriteArray, Bytes(117, 0x0F), false));
    Tick();
    f.Receive({0x8E});
    EXPECT_EQ(TickFor(150), kErrorAnswer);
}

TEST_F(SupervisorTest, SilenceShowsCommunicationsErrorOnceEvery10001Ms)
{
    f.engine.keys().Press(kKeyUp);
    const std::uint32_t start = f.clock.NowMs();
    f.engine.Tick(); // the first tick starts the silence clock
    f.clock.Set(start + 10000);
    EXPECT_TRUE(Tick().empty());
    EXPECT_TRUE(f.runs.runs.empty());

    f.clock.Set(start + 10001);
    EXPECT_EQ(Tick(), kSilenceAnswer) << "exactly 0x01, even with a key held";
    EngineFixture reference;
    reference.engine.controller().PutString("Communications Error", 11, 4, true);
    EXPECT_EQ(PagesOf(f.display()), PagesOf(reference.display())) << "the message is drawn on pages 3 and 4";
    EXPECT_NE(Columns(f.display(), 3, 0, 128), Bytes(128, 0));

    // It repeats: the next tick restarts the clock.
    EXPECT_EQ(TickFor(10000), Bytes{});
    EXPECT_EQ(TickFor(20), kSilenceAnswer);
}

TEST_F(SupervisorTest, SilenceReplyIsTheBareByteInSingleByteModeAndNeverTheLongFrame)
{
    f.Exchange(Frame(kSetContrastAndReplyMode, {0x20, 0x01, 0x00}));
    f.engine.Tick();
    EXPECT_EQ(TickFor(10020), kSilenceAnswer);
    f.Exchange(Frame(kSetContrastAndReplyMode, {0x20, 0xFF, 0xFF}));
    EXPECT_EQ(TickFor(10020), (Bytes{0x01}));
}

TEST_F(SupervisorTest, SilenceTimeOutWorksAcrossClockWrapAround)
{
    f.clock.Set(0xFFFFFF00u);
    f.engine.Tick();
    f.clock.Set(0xFFFFFF00u + 10000u); // wrapped past zero
    EXPECT_TRUE(Tick().empty());
    f.clock.Advance(1);
    EXPECT_EQ(Tick(), kSilenceAnswer);
}

// The reader stamps a byte with its own reading of the clock, which can come
// after the tick's: the byte then looks a millisecond ahead of the tick that
// sees it, and is no silence and no quiet after a receive error.
TEST(SupervisorClockTest, AByteStampedAheadOfTheTickIsNoTimeOut)
{
    // A frame begun, and a byte the receiver refuses (a receive error).
    for (const Bytes& bytes : {Bytes{0x85}, Bytes{0x33}}) {
        EngineFixture f;
        f.engine.Tick();
        const std::uint32_t now = f.clock.NowMs();
        f.clock.Set(now + 1);
        f.Receive(bytes);
        f.clock.Set(now);
        f.engine.Tick();
        EXPECT_EQ(f.port.TakeWritten(), Bytes{}) << "after " << int{bytes[0]};
    }
}

TEST_F(SupervisorTest, SynchRequestsEvery2001MsUntilAGoodFrame)
{
    const std::uint32_t constructed = f.clock.NowMs();
    f.engine.SetSynchRequired(true);

    f.clock.Set(constructed + 2000);
    EXPECT_TRUE(Tick().empty());
    f.clock.Set(constructed + 2001);
    EXPECT_EQ(Tick(), kRequest);
    f.clock.Advance(2000);
    EXPECT_TRUE(Tick().empty());
    f.clock.Advance(1);
    EXPECT_EQ(Tick(), kRequest);

    // Blocks whose frames all fail, or whose good frame follows a failing one
    // in the same block, do not count as synchronised.
    Bytes badChecksum = Frame(kReadSwitches, {0x00}, false);
    badChecksum.back() ^= 0xFF;
    const std::pair<Bytes, Bytes> unsynchronised[] = {
        {{0x85, 0x01, 0x00, 0x00}, {0x01}},
        {Frame(kWritePreDefStr, {}), {0x08}},
        {Concat({badChecksum, kReadSwitchesBlock}), {0x01}},
    };
    for (const auto& [block, reply] : unsynchronised) {
        EXPECT_EQ(f.Exchange(block), reply);
        EXPECT_EQ(TickFor(2010), kRequest) << "requests go on";
    }
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), (Bytes{0x00}));
    EXPECT_EQ(TickFor(9000), Bytes{}) << "no requests once synchronised";
    // After a silence time-out they start again.
    const Bytes afterSilence = TickFor(3100);
    ASSERT_FALSE(afterSilence.empty());
    EXPECT_EQ(afterSilence.front(), 0x01) << "the silence reply comes first";
    ASSERT_GE(afterSilence.size(), 1 + kRequest.size());
    EXPECT_EQ(Bytes(afterSilence.begin() + 1, afterSilence.begin() + 1 + kRequest.size()), kRequest);
}

TEST_F(SupervisorTest, NoSynchRequestsWhenNotRequired)
{
    EXPECT_EQ(TickFor(5000), Bytes{});
}

TEST_F(SupervisorTest, PausedLinkDoesNothing)
{
    f.engine.SetSynchRequired(true);
    f.engine.keys().Press(kKeyLeft);
    f.Receive(Frame(kWriteArray, {0, 0, 0xFF}));
    f.engine.SetLinkEnabled(false);
    EXPECT_EQ(TickFor(15000), Bytes{});
    EXPECT_TRUE(f.runs.runs.empty()) << "no frame is carried out, no silence message drawn";
    f.engine.SetLinkEnabled(true);
    EXPECT_EQ(Tick(), Concat({kRequest, {0x20}}))
        << "on resume the overdue request goes out, then the held block is answered";
    EXPECT_EQ(f.runs.Places(), (std::vector<RunPlace>{{0, 0, 1}}));
}

TEST_F(SupervisorTest, KeyLatchIsReleasedOnlyAfterAReplyWithTheButtonUp)
{
    KeyLatch& keys = f.engine.keys();
    keys.Press(kKeyLeft);
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock)[2], 0x20);
    EXPECT_EQ(keys.bits(), kKeyLeft) << "a held key stays latched";
    keys.Release();
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock)[2], 0x20) << "a released key is still reported once";
    EXPECT_EQ(keys.bits(), 0);
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock)[2], 0x00);
    // A press beside the keys keeps whatever is latched.
    keys.Press(kKeyDown);
    keys.Press(0);
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock)[2], 0x80);
}

TEST_F(SupervisorTest, FailedWriteStillReleasesTheBlock)
{
    f.port.writeFails = true;
    f.Exchange(kReadSwitchesBlock);
    f.port.writeFails = false;
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), kAnswer);
}

// A run listener that lets the device finish the block while the first frame
// is being drawn, as the reader thread can.
class ReceivingRunLog : public RunListener {
public:
    void RunWritten(const DisplayRect&) override
    {
        if (onRun) {
            auto hook = std::move(onRun);
            onRun = nullptr;
            hook();
        }
    }
    std::function<void()> onRun;
};

TEST_F(SupervisorTest, FramesCompletedDuringProcessingAreTakenInTheSameTick)
{
    ReceivingRunLog listener;
    f.engine.SetRunListener(&listener);
    f.Receive(Frame(kBlankArea, {0x00}, false));
    listener.onRun = [this] { f.Receive(kReadSwitchesBlock); };
    EXPECT_EQ(Tick(), kAnswer);
}

// A device on a line without transmission delay (a program on a virtual
// port) sends its next block the moment the reply reaches it; the receiver
// takes those bytes before the write has even returned. Whether the reply
// answered a block or a receive error, the next block is stored from its
// start and answered, with the key that is held.
TEST_F(SupervisorTest, BlockSentTheMomentTheReplyArrivesIsTaken)
{
    struct Case {
        const char* name;
        Bytes first;
        std::uint32_t quietMs;
        std::uint8_t firstStatus;
        // A block is answered in the tick it arrives in; an error reply is
        // sent by a time-out, after which the tick takes no more frames.
        int ticks;
    };
    const Case cases[] = {
        {"after a block", kReadSwitchesBlock, 0, 0x40, 1},
        {"after a receive error", {0x00}, 121, 0x48, 2},
    };
    const auto shortFrame = [](std::uint8_t status) {
        const auto frame = ShortStatusFrame(status);
        return Bytes(frame.begin(), frame.end());
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineFixture line;
        line.engine.keys().Press(kKeyUp);
        line.Receive(c.first);
        line.clock.Advance(c.quietMs);
        line.port.OnNextWrite([&line] { line.Receive(kReadSwitchesBlock); });
        for (int tick = 0; tick < c.ticks; ++tick) {
            line.engine.Tick();
        }
        EXPECT_EQ(line.port.Writes(), (std::vector<Bytes>{shortFrame(c.firstStatus), shortFrame(0x40)}))
            << "both are answered";
        line.port.TakeWritten();
        for (int tick = 0; tick < 20; ++tick) {
            line.clock.Advance(10);
            line.engine.Tick();
        }
        EXPECT_TRUE(line.port.TakeWritten().empty()) << "the next block is no protocol error";
    }
}

TEST_F(SupervisorTest, InjectedFrameIsProcessedLikeAReceivedOne)
{
    const Bytes tooShort{0x00};
    EXPECT_EQ(f.engine.InjectFrame(kWriteString, tooShort), 0x83);
    EXPECT_EQ(Tick(), kErrorAnswer) << "WRITE STRING needs three data bytes";

    EventLog log;
    f.engine.SetObserver(&log);
    const Bytes text{0x00, 0x00, 'A', 'B'};
    EXPECT_EQ(f.engine.InjectFrame(kWriteString, text), 0x09);
    EXPECT_EQ(Tick(), kAnswer);
    const auto executed = log.Of(LinkEventKind::FrameExecuted);
    ASSERT_EQ(executed.size(), 1u);
    EXPECT_EQ(Bytes(executed[0].bytes().begin(), executed[0].bytes().end()),
              (Bytes{0x81, 0x04, 0x00, 0x00, 0x41, 0x42, 0x09}));
    EXPECT_TRUE(executed[0].injected);
    EXPECT_EQ(Columns(f.display(), 0, 0, 6), (Bytes{0x7E, 0x11, 0x11, 0x11, 0x7E, 0x00})) << "the text is drawn";
}

TEST_F(SupervisorTest, FramesSentWhileTheLinkIsPausedWaitInTurnAndOneTooManyIsRefused)
{
    f.engine.SetLinkEnabled(false);
    const Bytes data{0x00};
    int taken = 0;
    while (f.engine.InjectFrame(kReadSwitches, data)) {
        ASSERT_LT(++taken, 100) << "the hand-over never fills";
    }
    EXPECT_GT(taken, 1) << "more than one frame may wait";
    EXPECT_TRUE(Tick().empty()) << "a paused link answers nothing";

    f.engine.SetLinkEnabled(true);
    Bytes answers;
    for (int i = 0; i < taken; ++i) {
        answers.insert(answers.end(), kAnswer.begin(), kAnswer.end());
    }
    EXPECT_EQ(Tick(), answers) << "each frame that was taken is answered once, none that was refused";
}

} // namespace
} // namespace quillon::testing
