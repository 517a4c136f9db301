#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "link/frame.h"
#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kReadSwitches{0x85, 0x01, 0x00, 0x87};

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
            f.link.LinkTick();
        }
        return f.port.TakeWritten();
    }

    EngineFixture f;
};

TEST_F(SupervisorTest, OneFrameBlockIsAnsweredWithTheShortStatusFrame)
{
    EXPECT_EQ(f.Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
    EXPECT_EQ(f.state.work.blockComplete.load(), 0);
    EXPECT_EQ(f.state.work.framesReceived.load(), 0);
    EXPECT_EQ(f.state.work.rxIndex.load(), 0);
}

TEST_F(SupervisorTest, LatchedKeyTravelsInTheReply)
{
    f.view.keyBits = 4;
    EXPECT_EQ(f.Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x40, 0x47}));
}

TEST_F(SupervisorTest, FramesOfABlockAreExecutedAsTheyArriveAndTheLastIsAnswered)
{
    const Bytes first{0x01, 0x03, 0x00, 0x00, 0x41, 0x46};
    f.Receive(first);
    f.link.LinkTick();
    EXPECT_EQ(f.state.work.frameCursor, 6) << "the cursor steps over the first frame";
    EXPECT_TRUE(f.port.TakeWritten().empty()) << "no reply before the block's last frame";
    EXPECT_FALSE(f.view.runs.empty()) << "the first frame has already drawn";

    f.Receive(kReadSwitches);
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), (Bytes{0x05, 0x01, 0x00, 0x07}));
    EXPECT_EQ(f.state.work.frameCursor, 0);
}

TEST_F(SupervisorTest, BlockEndingInFunctionCode14GetsTheLongStatusFrame)
{
    const Bytes block = EngineFixture::Frame(kSetContrastAndReplyMode, {0x20, 0x01, 0x00});
    f.view.keyBits = 1;
    const Bytes expected{0x0E, 0x09, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x28};
    EXPECT_EQ(f.Exchange(block), expected);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(f.state.rxBuffer[i], 0) << "byte " << i;
    }
    // The next block in the same mode gets the short frame again.
    f.view.keyBits = 0;
    EXPECT_EQ(f.Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

TEST_F(SupervisorTest, SwitchingToSingleByteRepliesAppliesToTheSameBlock)
{
    const Bytes block = EngineFixture::Frame(kSetContrastAndReplyMode, {0x20, 0xFF, 0xFF});
    EXPECT_EQ(f.Exchange(block), (Bytes{0x00}));
    f.view.keyBits = 8;
    EXPECT_EQ(f.Exchange(kReadSwitches), (Bytes{0x80}));
    EXPECT_EQ(f.state.synchNotRequired.load(), 1) << "the synch flag is the settings' alone";
}

TEST_F(SupervisorTest, ChecksumErrorReachesTheDevice)
{
    EXPECT_EQ(f.Exchange({0x85, 0x01, 0x00, 0x88}), (Bytes{0x05, 0x01, 0x01, 0x08}));
    // Error bits are cleared by the reply.
    EXPECT_EQ(f.Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

TEST_F(SupervisorTest, ReceiveErrorIsAnsweredOnlyAfterMoreThan120MsOfQuiet)
{
    f.view.keyBits = 2;
    f.Receive({0x00}); // bad function code
    const std::uint32_t lastByte = f.state.lastRxTick.load();
    f.clock.Set(lastByte + 120);
    f.link.LinkTick();
    EXPECT_TRUE(f.port.TakeWritten().empty()) << "120 ms is not yet more than 120 ms";
    f.clock.Set(lastByte + 121);
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), (Bytes{0x05, 0x01, 0x28, 0x2F}));
    EXPECT_EQ(f.state.rxErrors.load(), 0);
    EXPECT_EQ(f.state.lastRxTick.load(), 0u);
    EXPECT_EQ(f.state.work.rxIndex.load(), 0);
    EXPECT_EQ(f.Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x20, 0x27})) << "the link works again";
}

TEST_F(SupervisorTest, ByteBetweenTheLastFrameAndTheReplyCausesASecondErrorReply)
{
    f.Receive(Concat({kReadSwitches, {0x33}}));
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), (Bytes{0x05, 0x01, 0x00, 0x07}));
    EXPECT_EQ(f.state.rxErrors.load(), kRxByteDuringCompleteBlock) << "the reply does not clear receive errors";
    EXPECT_EQ(TickFor(150), (Bytes{0x05, 0x01, 0x08, 0x0F}));
}

TEST_F(SupervisorTest, ErrorReplyAfterAFullFrameAndOverflowIsTheShortFrame)
{
    // A 120-byte frame without bit 7 leaves the cursor one past the buffer;
    // the error reply must not read there.
    f.Receive(EngineFixture::Frame(kWriteArray, Bytes(117, 0x0F), false));
    f.link.LinkTick();
    EXPECT_EQ(f.state.work.frameCursor, 120);
    f.Receive({0x8E});
    EXPECT_EQ(TickFor(150), (Bytes{0x05, 0x01, 0x08, 0x0F}));
}

TEST_F(SupervisorTest, SilenceShowsCommunicationsErrorOnceEvery10001Ms)
{
    f.view.keyBits = 4;
    f.link.LinkTick(); // the first tick starts the silence clock
    const std::uint32_t start = f.state.lastRxTick.load();
    ASSERT_NE(start, 0u);
    f.clock.Set(start + 10000);
    f.link.LinkTick();
    EXPECT_TRUE(f.port.TakeWritten().empty());
    EXPECT_TRUE(f.view.runs.empty());

    f.clock.Set(start + 10001);
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), (Bytes{0x05, 0x01, 0x01, 0x08})) << "exactly 0x01, even with a key held";
    EXPECT_FALSE(f.view.runs.empty());
    bool page3Drawn = false;
    for (int column = 0; column < 128; ++column) {
        page3Drawn = page3Drawn || f.view.Column(column, 3) != 0;
    }
    EXPECT_TRUE(page3Drawn) << "the message is drawn on pages 3 and 4";
    EXPECT_EQ(f.link.needSync, 1u);

    // It repeats: the next tick restarts the clock.
    f.view.runs.clear();
    EXPECT_EQ(TickFor(10000), Bytes{});
    EXPECT_EQ(TickFor(20), (Bytes{0x05, 0x01, 0x01, 0x08}));
}

TEST_F(SupervisorTest, SilenceReplyIsTheBareByteInSingleByteModeAndNeverTheLongFrame)
{
    f.Exchange(EngineFixture::Frame(kSetContrastAndReplyMode, {0x20, 0x01, 0x00}));
    f.link.LinkTick();
    EXPECT_EQ(TickFor(10020), (Bytes{0x05, 0x01, 0x01, 0x08}));
    f.state.replyMode = kSingleByteReplyMode;
    EXPECT_EQ(TickFor(10020), (Bytes{0x01}));
}

TEST_F(SupervisorTest, SilenceTimeOutWorksAcrossClockWrapAround)
{
    f.clock.Set(0xFFFFFF00u);
    f.link.LinkTick();
    f.clock.Set(0xFFFFFF00u + 10000u); // wrapped past zero
    f.link.LinkTick();
    EXPECT_TRUE(f.port.TakeWritten().empty());
    f.clock.Advance(1);
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), (Bytes{0x05, 0x01, 0x01, 0x08}));
}

TEST_F(SupervisorTest, SynchRequestsEvery2001MsUntilAGoodFrame)
{
    f.state.synchNotRequired = 0;
    f.state.replyMode = kSingleByteReplyMode;
    const Bytes request(kSynchRequest.begin(), kSynchRequest.end());
    const std::uint32_t constructed = f.link.lastSyncTick;

    f.clock.Set(constructed + 2000);
    f.link.LinkTick();
    EXPECT_TRUE(f.port.TakeWritten().empty());
    f.clock.Set(constructed + 2001);
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), request);
    f.clock.Advance(2000);
    f.link.LinkTick();
    EXPECT_TRUE(f.port.TakeWritten().empty());
    f.clock.Advance(1);
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), request);

    // A frame with a bad checksum does not count as synchronised.
    EXPECT_EQ(f.Exchange({0x85, 0x01, 0x00, 0x00}), (Bytes{0x01}));
    EXPECT_EQ(f.link.needSync, 1u);
    EXPECT_EQ(f.Exchange(kReadSwitches), (Bytes{0x00}));
    EXPECT_EQ(f.link.needSync, 0u);
    EXPECT_EQ(TickFor(9000), Bytes{}) << "no requests once synchronised";
    // After a silence time-out they start again.
    const Bytes afterSilence = TickFor(3100);
    ASSERT_FALSE(afterSilence.empty());
    EXPECT_EQ(afterSilence.front(), 0x01) << "the silence reply comes first";
    ASSERT_GE(afterSilence.size(), 1 + request.size());
    EXPECT_EQ(Bytes(afterSilence.begin() + 1, afterSilence.begin() + 1 + request.size()), request);
}

TEST_F(SupervisorTest, NoSynchRequestsWhenNotRequired)
{
    EXPECT_EQ(TickFor(5000), Bytes{});
}

TEST_F(SupervisorTest, PausedLinkDoesNothing)
{
    f.state.synchNotRequired = 0;
    f.view.keyBits = 2;
    f.Receive(kReadSwitches);
    f.state.linkEnabled = 0;
    EXPECT_EQ(TickFor(15000), Bytes{});
    EXPECT_EQ(f.state.status, 0) << "key bits are not copied";
    EXPECT_EQ(f.state.work.framesProcessed, 0);
    f.state.linkEnabled = 1;
    f.link.LinkTick();
    const Bytes request(kSynchRequest.begin(), kSynchRequest.end());
    EXPECT_EQ(f.port.TakeWritten(), Concat({request, {0x05, 0x01, 0x20, 0x27}}))
        << "on resume the overdue request goes out, then the held block is answered";
}

TEST_F(SupervisorTest, KeyLatchIsReleasedOnlyAfterAReplyWithTheButtonUp)
{
    f.view.keyBits = 2;
    f.view.keyReleased = false;
    EXPECT_EQ(f.Exchange(kReadSwitches)[2], 0x20);
    EXPECT_EQ(f.view.keyBits, 2) << "a held key stays latched";
    f.view.keyReleased = true;
    EXPECT_EQ(f.Exchange(kReadSwitches)[2], 0x20) << "a released key is still reported once";
    EXPECT_EQ(f.view.keyBits, 0);
    EXPECT_EQ(f.Exchange(kReadSwitches)[2], 0x00);
}

TEST_F(SupervisorTest, FailedWriteStillResetsTheBlock)
{
    f.port.writeFails = true;
    f.Exchange(kReadSwitches);
    EXPECT_EQ(f.state.work.blockComplete.load(), 0);
    EXPECT_EQ(f.state.work.framesReceived.load(), 0);
    f.port.writeFails = false;
    EXPECT_EQ(f.Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

// A view that lets the device finish the block while the first frame is
// being drawn, as the reader thread can.
class ReceivingView : public InMemoryView {
public:
    void RepaintNow() override
    {
        InMemoryView::RepaintNow();
        if (onRepaint) {
            auto hook = std::move(onRepaint);
            onRepaint = nullptr;
            hook();
        }
    }
    std::function<void()> onRepaint;
};

TEST(SupervisorConcurrency, FramesCompletedDuringProcessingAreTakenInTheSameTick)
{
    LinkState state;
    ReceivingView view;
    QueuePort port;
    ManualClock clock;
    CPanelLink link(state, view, port, clock);
    state.linkEnabled = 1;
    auto receiveAll = [&] {
        while (link.ReceivePass() == ReceiveResult::ByteHandled) {
        }
    };
    port.Feed(EngineFixture::Frame(kBlankArea, {0x00}, false));
    receiveAll();
    view.onRepaint = [&] {
        port.Feed(kReadSwitches);
        receiveAll();
    };
    link.LinkTick();
    EXPECT_EQ(port.TakeWritten(), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

// A device on a line without transmission delay (a program on a virtual
// port) sends its next block the moment the reply reaches it; the reader
// takes those bytes before the write has even returned.
class AnsweringPort : public QueuePort {
public:
    bool Write(const std::uint8_t* data, std::size_t length) override
    {
        const bool written = QueuePort::Write(data, length);
        if (onWrite) {
            auto hook = std::move(onWrite);
            onWrite = nullptr;
            hook();
        }
        return written;
    }
    std::function<void()> onWrite;
};

TEST(SupervisorConcurrency, BlockSentTheMomentTheReplyArrivesIsTaken)
{
    LinkState state;
    InMemoryView view;
    AnsweringPort port;
    ManualClock clock;
    CPanelLink link(state, view, port, clock);
    state.linkEnabled = 1;
    auto receiveAll = [&] {
        while (link.ReceivePass() == ReceiveResult::ByteHandled) {
        }
    };
    port.Feed(kReadSwitches);
    receiveAll();
    port.onWrite = [&] {
        port.Feed(kReadSwitches);
        receiveAll();
    };
    link.LinkTick();
    EXPECT_EQ(state.rxErrors.load(), 0) << "the next block is no protocol error";
    EXPECT_EQ(port.TakeWritten(), Concat({{0x05, 0x01, 0x00, 0x07}, {0x05, 0x01, 0x00, 0x07}}))
        << "both blocks are answered";
}

TEST_F(SupervisorTest, InjectedFrameIsProcessedLikeAReceivedOne)
{
    const std::uint8_t data[] = {0x00};
    EXPECT_EQ(f.link.InjectFrame(kWriteString, data, 1), 0x83);
    EXPECT_EQ(f.state.rxBuffer[0], 0x81);
    EXPECT_EQ(f.state.rxBuffer[1], 0x01);
    EXPECT_EQ(f.state.rxBuffer[2], 0x00);
    EXPECT_EQ(f.state.rxBuffer[3], 0x83);
    EXPECT_EQ(f.state.work.rxIndex.load(), 4);
    EXPECT_EQ(f.state.work.rxFrameStart.load(), 4);
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), (Bytes{0x05, 0x01, 0x08, 0x0F})) << "WRITE STRING needs three data bytes";

    const std::uint8_t text[] = {0x00, 0x00, 'A', 'B'};
    EXPECT_EQ(f.link.InjectFrame(kWriteString, text, 4), 0x09);
    const Bytes expected{0x81, 0x04, 0x00, 0x00, 0x41, 0x42, 0x09};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(f.state.rxBuffer[i], expected[i]) << i;
    }
    f.link.LinkTick();
    EXPECT_EQ(f.port.TakeWritten(), (Bytes{0x05, 0x01, 0x00, 0x07}));
    EXPECT_EQ(f.view.Columns(0, 0, 6), (Bytes{0x7E, 0x11, 0x11, 0x11, 0x7E, 0x00})) << "the text is drawn";
}

} // namespace
} // namespace quillon::testing
