#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

const Bytes kReadSwitchesBlock{0x85, 0x01, 0x00, 0x87};
const Bytes kAnswer{0x05, 0x01, 0x00, 0x07};
const Bytes kErrorAnswer{0x05, 0x01, 0x08, 0x0F};

// The receiver seen from outside: the frames it completes and the errors it
// raises (events, delivered when the engine ticks) and the replies they earn.
class ReceiverTest : public ::testing::Test {
protected:
    ReceiverTest() { f.engine.SetObserver(&log); }

    // One tick; returns what was written.
    Bytes Tick()
    {
        f.engine.Tick();
        return f.port.TakeWritten();
    }

    std::vector<Bytes> Completed() const
    {
        std::vector<Bytes> frames;
        for (const auto& event : log.Of(LinkEventKind::FrameCompleted)) {
            frames.emplace_back(event.bytes().begin(), event.bytes().end());
        }
        return frames;
    }

    std::vector<std::uint8_t> Raised() const
    {
        std::vector<std::uint8_t> bits;
        for (const auto& event : log.Of(LinkEventKind::ErrorRaised)) {
            bits.push_back(event.rxErrors);
        }
        return bits;
    }

    EngineFixture f;
    EventLog log;
};

TEST_F(ReceiverTest, OneFrameBlockCompletesAndTheNextIsStoredFromTheStart)
{
    f.Receive({0x85, 0x01, 0x00});
    EXPECT_TRUE(Tick().empty());
    EXPECT_TRUE(Completed().empty());
    f.Receive({0x87});
    EXPECT_EQ(Tick(), kAnswer);
    EXPECT_EQ(Completed(), std::vector<Bytes>{kReadSwitchesBlock});
    EXPECT_TRUE(Raised().empty());

    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), kAnswer);
    EXPECT_EQ(Completed(), std::vector<Bytes>(2, kReadSwitchesBlock));
}

TEST_F(ReceiverTest, FramesAreCountedOneByOneAsTheyComplete)
{
    const Bytes block{0x05, 0x01, 0x00, 0x07, 0x85, 0x01, 0x00, 0x87};
    const std::size_t expectedCount[] = {0, 0, 0, 1, 1, 1, 1, 2};
    for (std::size_t i = 0; i < block.size(); ++i) {
        f.Receive({block[i]});
        const Bytes written = Tick();
        EXPECT_EQ(Completed().size(), expectedCount[i]) << "after byte " << i + 1;
        EXPECT_EQ(written, i + 1 == block.size() ? kAnswer : Bytes{}) << "after byte " << i + 1;
    }
    EXPECT_EQ(Completed(), (std::vector<Bytes>{{0x05, 0x01, 0x00, 0x07}, kReadSwitchesBlock}));
}

TEST_F(ReceiverTest, FunctionCodeByteIsChecked)
{
    struct Case {
        std::uint8_t codeByte;
        std::uint8_t errors;
    };
    const Case cases[] = {{0x00, 0x02}, {0x0F, 0x02}, {0x80, 0x02}, {0xFF, 0x02}, {0x7F, 0x02},
                          {0x01, 0x00}, {0x0E, 0x00}, {0x8E, 0x00}, {0x81, 0x00}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "code byte " << int(c.codeByte));
        EngineFixture fresh;
        EventLog events;
        fresh.engine.SetObserver(&events);
        // A frame with no data: the code byte is stored and the rest follows it.
        const Bytes frame{c.codeByte, 0x00, FrameChecksum(&c.codeByte, 1)};
        fresh.Receive(frame);
        fresh.engine.Tick();
        const auto raised = events.Of(LinkEventKind::ErrorRaised);
        const auto completed = events.Of(LinkEventKind::FrameCompleted);
        if (c.errors != 0) {
            ASSERT_EQ(raised.size(), 1u);
            EXPECT_EQ(raised[0].rxErrors, c.errors);
            EXPECT_EQ(raised[0].byte, c.codeByte);
            EXPECT_TRUE(completed.empty());
        } else {
            EXPECT_TRUE(raised.empty());
            ASSERT_EQ(completed.size(), 1u);
            EXPECT_EQ(Bytes(completed[0].bytes().begin(), completed[0].bytes().end()), frame);
        }
    }
}

TEST_F(ReceiverTest, LengthByteIsChecked)
{
    struct Case {
        std::uint8_t length;
        std::uint8_t errors;
    };
    const Case cases[] = {{0, 0x00}, {117, 0x00}, {118, 0x04}, {255, 0x04}};
    for (const auto& c : cases) {
        EngineFixture fresh;
        EventLog events;
        fresh.engine.SetObserver(&events);
        fresh.Receive({0x02, c.length});
        fresh.engine.Tick();
        const auto raised = events.Of(LinkEventKind::ErrorRaised);
        EXPECT_EQ(raised.empty() ? 0 : raised[0].rxErrors, c.errors) << "length " << int(c.length);
    }
}

TEST_F(ReceiverTest, LongestFrameFillsTheBufferExactly)
{
    const Bytes frame = EncodeFrame(kWriteArray, Bytes(117, 0x55));
    f.Receive(frame);
    EXPECT_EQ(Tick().size(), kAnswer.size()) << "the block is answered";
    EXPECT_EQ(Completed(), std::vector<Bytes>{frame});
    EXPECT_TRUE(Raised().empty());
}

TEST_F(ReceiverTest, ByteAfterAFullBufferOverflowsAndTheWrappedIndexCompletesNothing)
{
    const Bytes full = EncodeFrame(kWriteArray, Bytes(117, 0x55), false);
    f.Receive(full);
    f.Receive({0x85});
    EXPECT_TRUE(Tick().empty());
    EXPECT_EQ(Completed(), std::vector<Bytes>{full});
    EXPECT_EQ(Raised(), Bytes{kRxOverflow});
    // 135 more bytes take the index past 255 back to 0; a valid one-frame
    // block then lands where the counted frame lies and is dropped.
    f.Receive(Bytes(135, 0x00));
    f.Receive(kReadSwitchesBlock);
    EXPECT_TRUE(Tick().empty()) << "no block completes while the error is pending";
    EXPECT_EQ(Completed(), std::vector<Bytes>{full}) << "only the frame before the overflow counts";
    const auto executed = log.Of(LinkEventKind::FrameExecuted);
    ASSERT_EQ(executed.size(), 1u);
    EXPECT_EQ(Bytes(executed[0].bytes().begin(), executed[0].bytes().end()), full)
        << "the counted frame is not overwritten";
}

TEST_F(ReceiverTest, CodeByteInTheLastCellWaitsForALengthThatCannotArrive)
{
    // A 119-byte frame leaves the next frame's code byte at index 119; its
    // length byte would lie outside the buffer.
    f.Receive(EncodeFrame(kWriteArray, Bytes(116, 0x55), false));
    f.Receive({0x05});
    Tick();
    EXPECT_EQ(Completed().size(), 1u);
    EXPECT_TRUE(Raised().empty());
    f.Receive({0x01});
    Tick();
    EXPECT_EQ(Raised(), Bytes{kRxOverflow});
}

TEST_F(ReceiverTest, ChecksumIsLeftToValidation)
{
    f.Receive({0x85, 0x01, 0x00, 0x99});
    EXPECT_EQ(Tick(), (Bytes{0x05, 0x01, 0x01, 0x08}));
    EXPECT_EQ(Completed().size(), 1u);
    EXPECT_TRUE(Raised().empty());
}

TEST_F(ReceiverTest, AfterAnErrorValidFramesAreStoredButNotCompleted)
{
    f.Receive({0x00});
    f.Receive({0x05, 0x01, 0x00, 0x07, 0x85, 0x01, 0x00, 0x87});
    EXPECT_TRUE(Tick().empty());
    EXPECT_EQ(Raised(), Bytes{kRxBadFunctionCode});
    EXPECT_TRUE(Completed().empty());
    f.clock.Advance(121);
    EXPECT_EQ(Tick(), kErrorAnswer);
}

TEST_F(ReceiverTest, ByteDuringACompleteBlockIsDroppedWithError)
{
    f.Receive({0x85, 0x01, 0x00, 0x87, 0x42});
    EXPECT_EQ(f.port.Queued(), 0u);
    EXPECT_EQ(Tick(), kAnswer) << "the complete block is answered as it came";
    EXPECT_EQ(Completed(), std::vector<Bytes>{kReadSwitchesBlock});
    const auto raised = log.Of(LinkEventKind::ErrorRaised);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].rxErrors, kRxByteDuringCompleteBlock);
    EXPECT_EQ(raised[0].byte, 0x42);
}

TEST_F(ReceiverTest, PausedLinkLeavesBytesQueuedUntilItRunsAgain)
{
    FrameReceiver& receiver = f.engine.receiver();
    f.Receive(kReadSwitchesBlock);
    f.engine.SetLinkEnabled(false);
    f.clock.Advance(500);
    f.port.Feed({0x42, 0x43});
    EXPECT_EQ(receiver.ReceivePass(), ReceiveResult::Held);
    EXPECT_EQ(f.port.Queued(), 2u);
    EXPECT_EQ(receiver.lastByteTick(), f.clock.NowMs()) << "waiting bytes count as line activity";

    f.engine.SetLinkEnabled(true);
    EXPECT_EQ(receiver.ReceivePass(), ReceiveResult::ByteHandled);
    EXPECT_EQ(receiver.ReceivePass(), ReceiveResult::ByteHandled);
    EXPECT_EQ(f.port.Queued(), 0u);
    Tick();
    EXPECT_EQ(Raised(), (Bytes{kRxByteDuringCompleteBlock, kRxByteDuringCompleteBlock}));
}

TEST_F(ReceiverTest, NothingWaitingOrAFailedQueryIsNoInput)
{
    FrameReceiver& receiver = f.engine.receiver();
    EXPECT_EQ(receiver.ReceivePass(), ReceiveResult::NoInput);
    EXPECT_EQ(receiver.lastByteTick(), 0u);
    f.port.Feed({0x85});
    f.port.queryFails = true;
    EXPECT_EQ(receiver.ReceivePass(), ReceiveResult::NoInput);
    EXPECT_EQ(f.port.Queued(), 1u);
}

TEST_F(ReceiverTest, ByteThatCannotBeReadIsSkipped)
{
    f.port.readFails = true;
    f.Receive({0x85, 0x01});
    f.port.readFails = false;
    EXPECT_EQ(f.Exchange(kReadSwitchesBlock), kAnswer) << "nothing was stored, the block starts at the beginning";
    EXPECT_EQ(Completed(), std::vector<Bytes>{kReadSwitchesBlock});
    EXPECT_TRUE(Raised().empty());
}

TEST_F(ReceiverTest, EveryByteCarriesTheClockOfItsPass)
{
    f.clock.Set(123456);
    f.Receive({0x05});
    f.clock.Advance(7);
    f.Receive({0x01});
    Tick();
    const auto received = log.Of(LinkEventKind::ByteReceived);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].timeMs, 123456u);
    EXPECT_EQ(received[1].timeMs, 123463u);
    EXPECT_EQ(f.engine.receiver().lastByteTick(), 123463u);
}

} // namespace
} // namespace quillon::testing
