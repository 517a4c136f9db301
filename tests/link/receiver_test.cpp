#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fakes.h"

namespace quillon::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ReceiverTest : public ::testing::Test {
protected:
    // Feeds bytes one at a time through the receiver.
    void Feed(const Bytes& bytes) { f.Receive(bytes); }
    std::uint8_t RxIndex() const { return f.state.work.rxIndex.load(); }
    std::uint8_t FrameStart() const { return f.state.work.rxFrameStart.load(); }
    std::uint8_t Received() const { return f.state.work.framesReceived.load(); }
    std::uint8_t Complete() const { return f.state.work.blockComplete.load(); }
    std::uint8_t Errors() const { return f.state.rxErrors.load(); }

    EngineFixture f;
};

TEST_F(ReceiverTest, OneFrameBlockCompletesAndRewindsIndices)
{
    Feed({0x85, 0x01, 0x00});
    EXPECT_EQ(Received(), 0);
    EXPECT_EQ(RxIndex(), 3);
    Feed({0x87});
    EXPECT_EQ(Received(), 1);
    EXPECT_EQ(Complete(), 1);
    EXPECT_EQ(RxIndex(), 0);
    EXPECT_EQ(FrameStart(), 0);
    EXPECT_EQ(Errors(), 0);
    EXPECT_EQ(f.state.rxBuffer[0], 0x85);
    EXPECT_EQ(f.state.rxBuffer[3], 0x87);
}

TEST_F(ReceiverTest, FramesAreCountedOneByOneAsTheyComplete)
{
    const Bytes block{0x05, 0x01, 0x00, 0x07, 0x85, 0x01, 0x00, 0x87};
    const std::uint8_t expectedCount[] = {0, 0, 0, 1, 1, 1, 1, 2};
    for (std::size_t i = 0; i < block.size(); ++i) {
        Feed({block[i]});
        EXPECT_EQ(Received(), expectedCount[i]) << "after byte " << i + 1;
        if (i == 3) {
            EXPECT_EQ(FrameStart(), 4);
            EXPECT_EQ(Complete(), 0);
        }
    }
    EXPECT_EQ(Complete(), 1);
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
        EngineFixture fresh;
        fresh.Receive({c.codeByte});
        EXPECT_EQ(fresh.state.rxErrors.load(), c.errors) << "code byte " << int(c.codeByte);
        EXPECT_EQ(fresh.state.work.rxIndex.load(), 1) << "the byte is stored and the index advances";
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
        fresh.Receive({0x02, c.length});
        EXPECT_EQ(fresh.state.rxErrors.load(), c.errors) << "length " << int(c.length);
    }
}

TEST_F(ReceiverTest, LongestFrameFillsTheBufferExactly)
{
    Bytes data(117, 0x55);
    Feed(EngineFixture::Frame(2, data, true));
    EXPECT_EQ(Received(), 1);
    EXPECT_EQ(Complete(), 1);
    EXPECT_EQ(Errors(), 0);
}

TEST_F(ReceiverTest, ByteAfterAFullBufferOverflows)
{
    Feed(EngineFixture::Frame(2, Bytes(117, 0x55), false));
    EXPECT_EQ(Received(), 1);
    EXPECT_EQ(RxIndex(), 120);
    EXPECT_EQ(Errors(), 0);
    Feed({0x85});
    EXPECT_EQ(Errors(), kRxOverflow);
    EXPECT_EQ(RxIndex(), 121) << "the dropped byte still advances the index";
}

TEST_F(ReceiverTest, OverflowingIndexWrapsButCompletesNothingWhileTheErrorIsPending)
{
    Feed(EngineFixture::Frame(2, Bytes(117, 0x55), false));
    // 136 more bytes take the index from 120 past 255 back to 0; a valid
    // one-frame block then lands where the counted frame lies and is dropped.
    Feed(Bytes(136, 0x00));
    EXPECT_EQ(RxIndex(), 0);
    Feed({0x85, 0x01, 0x00, 0x87});
    EXPECT_EQ(RxIndex(), 4);
    EXPECT_EQ(f.state.rxBuffer[0], 0x02) << "the counted frame is not overwritten";
    EXPECT_EQ(Received(), 1) << "only the frame before the overflow counts";
    EXPECT_EQ(Complete(), 0);
}

TEST_F(ReceiverTest, CodeByteInTheLastCellWaitsForALengthThatCannotArrive)
{
    // A 119-byte frame leaves the next frame's code byte at index 119; its
    // length byte would lie outside the buffer.
    Feed(EngineFixture::Frame(2, Bytes(116, 0x55), false));
    EXPECT_EQ(FrameStart(), 119);
    Feed({0x05});
    EXPECT_EQ(RxIndex(), 120);
    EXPECT_EQ(Received(), 1);
    EXPECT_EQ(Errors(), 0);
    Feed({0x01});
    EXPECT_EQ(Errors(), kRxOverflow);
}

TEST_F(ReceiverTest, ChecksumIsLeftToValidation)
{
    Feed({0x85, 0x01, 0x00, 0x99});
    EXPECT_EQ(Received(), 1);
    EXPECT_EQ(Complete(), 1);
    EXPECT_EQ(Errors(), 0);
}

TEST_F(ReceiverTest, AfterAnErrorValidFramesAreStoredButNotCompleted)
{
    Feed({0x00});
    Feed({0x05, 0x01, 0x00, 0x07, 0x85, 0x01, 0x00, 0x87});
    EXPECT_EQ(Errors(), kRxBadFunctionCode);
    EXPECT_EQ(Received(), 0);
    EXPECT_EQ(Complete(), 0);
    EXPECT_EQ(RxIndex(), 9);
    EXPECT_EQ(f.state.rxBuffer[8], 0x87);
}

TEST_F(ReceiverTest, ByteDuringACompleteBlockIsDroppedWithError)
{
    Feed({0x85, 0x01, 0x00, 0x87, 0x42});
    EXPECT_EQ(Errors(), kRxByteDuringCompleteBlock);
    EXPECT_EQ(RxIndex(), 0);
    EXPECT_EQ(Received(), 1);
    EXPECT_EQ(f.port.Queued(), 0u);
    EXPECT_EQ(f.state.rxBuffer[0], 0x85) << "the complete block is not overwritten";
}

TEST_F(ReceiverTest, PausedLinkLeavesBytesQueuedUntilItRunsAgain)
{
    Feed({0x85, 0x01, 0x00, 0x87});
    f.state.linkEnabled = 0;
    f.clock.Advance(500);
    f.port.Feed({0x42, 0x43});
    EXPECT_EQ(f.link.ReceivePass(), ReceiveResult::Held);
    EXPECT_EQ(f.port.Queued(), 2u);
    EXPECT_EQ(Errors(), 0);
    EXPECT_EQ(f.state.lastRxTick.load(), f.clock.NowMs()) << "waiting bytes count as line activity";

    f.state.linkEnabled = 1;
    EXPECT_EQ(f.link.ReceivePass(), ReceiveResult::ByteHandled);
    EXPECT_EQ(f.link.ReceivePass(), ReceiveResult::ByteHandled);
    EXPECT_EQ(f.port.Queued(), 0u);
    EXPECT_EQ(Errors(), kRxByteDuringCompleteBlock);
}

TEST_F(ReceiverTest, NothingWaitingOrAFailedQueryIsNoInput)
{
    EXPECT_EQ(f.link.ReceivePass(), ReceiveResult::NoInput);
    EXPECT_EQ(f.state.lastRxTick.load(), 0u);
    f.port.Feed({0x85});
    f.port.queryFails = true;
    EXPECT_EQ(f.link.ReceivePass(), ReceiveResult::NoInput);
    EXPECT_EQ(RxIndex(), 0);
}

TEST_F(ReceiverTest, ByteThatCannotBeReadIsSkipped)
{
    f.port.readFails = true;
    Feed({0x85, 0x01});
    EXPECT_EQ(RxIndex(), 0) << "nothing stored, index not advanced";
    EXPECT_EQ(Errors(), 0);
    f.port.readFails = false;
    Feed({0x85, 0x01, 0x00, 0x87});
    EXPECT_EQ(Complete(), 1);
}

TEST_F(ReceiverTest, EveryPassWithBytesWaitingStampsTheClock)
{
    f.clock.Set(123456);
    Feed({0x05});
    EXPECT_EQ(f.state.lastRxTick.load(), 123456u);
    f.clock.Advance(7);
    Feed({0x01});
    EXPECT_EQ(f.state.lastRxTick.load(), 123463u);
}

} // namespace
} // namespace quillon::testing
