#include <gtest/gtest.h>

#include <vector>

#include "protocol/protocol.h"

namespace quillon {
namespace {

TEST(FrameChecksum, CountsCodeByteWithBit7AndAddsOne)
{
    const std::uint8_t synch[] = {0x32, 0x03, 0x01, 0x15, 0x20};
    EXPECT_EQ(FrameChecksum(synch, sizeof synch), 0x6C);
    const std::uint8_t last[] = {0x81, 0x03, 0x00, 0x00, 0x41};
    EXPECT_EQ(FrameChecksum(last, sizeof last), 0xC6);
    const std::uint8_t notLast[] = {0x01, 0x03, 0x00, 0x00, 0x41};
    EXPECT_EQ(FrameChecksum(notLast, sizeof notLast), 0x46);
    const std::uint8_t wraps[] = {0x81, 0x04, 0x00, 0x00, 0x41, 0x42};
    EXPECT_EQ(FrameChecksum(wraps, sizeof wraps), 0x09);
}

TEST(FrameChecksum, SynchRequestCarriesItsOwnChecksum)
{
    EXPECT_EQ(kSynchRequest.back(), FrameChecksum(kSynchRequest.data(), kSynchRequest.size() - 1));
}

TEST(ReplyFrames, ShortStatusFrame)
{
    struct Case {
        std::uint8_t status;
        std::array<std::uint8_t, 4> expected;
    };
    const Case cases[] = {
        {0x00, {0x05, 0x01, 0x00, 0x07}},
        {0x28, {0x05, 0x01, 0x28, 0x2F}},
        {0x89, {0x05, 0x01, 0x89, 0x90}},
        {0xFF, {0x05, 0x01, 0xFF, 0x06}},
    };
    for (const auto& c : cases) {
        const auto frame = ShortStatusFrame(c.status);
        EXPECT_EQ(frame, c.expected) << "status " << int(c.status);
        EXPECT_EQ(frame.back(), FrameChecksum(frame.data(), frame.size() - 1));
    }
}

TEST(ReplyFrames, LongStatusFrame)
{
    const auto frame = LongStatusFrame(0x10);
    const std::array<std::uint8_t, 12> expected{0x0E, 0x09, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x28};
    EXPECT_EQ(frame, expected);
    EXPECT_EQ(LongStatusFrame(0x81).back(), 0x99);
    for (unsigned status = 0; status < 256; ++status) {
        const auto f = LongStatusFrame(static_cast<std::uint8_t>(status));
        ASSERT_EQ(f.back(), FrameChecksum(f.data(), f.size() - 1)) << status;
    }
}

TEST(Encoder, FramesCarryBit7OnlyWhenLastAndTheirChecksum)
{
    using Bytes = std::vector<std::uint8_t>;
    const Bytes text{0x00, 0x00, 0x41};
    EXPECT_EQ(EncodeFrame(kWriteString, text), (Bytes{0x81, 0x03, 0x00, 0x00, 0x41, 0xC6}));
    EXPECT_EQ(EncodeFrame(kWriteString, text, false), (Bytes{0x01, 0x03, 0x00, 0x00, 0x41, 0x46}));
    EXPECT_EQ(EncodeFrame(kReadSwitches, {}), (Bytes{0x85, 0x00, 0x86}));

    const FrameContent frames[] = {{kWriteString, text}, {kReadSwitches, {0x00}}};
    EXPECT_EQ(EncodeBlock(frames), (Bytes{0x01, 0x03, 0x00, 0x00, 0x41, 0x46, 0x85, 0x01, 0x00, 0x87}));
}

} // namespace
} // namespace quillon
