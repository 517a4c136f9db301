#include "tests/display/display_test.h"

#include <optional>

namespace quillon::testing {
namespace {

using DispatchTest = DisplayTest;

TEST_F(DispatchTest, ChecksumCoversCodeByteAsReceived)
{
    EXPECT_EQ(Run({0x81, 0x03, 0x00, 0x00, 0x41, 0xC6}), 0x00);
    EXPECT_EQ(f.view.Columns(0, 0, 6), (Bytes{0x7E, 0x11, 0x11, 0x11, 0x7E, 0x00})) << "the frame was carried out";
    EXPECT_EQ(f.state.work.frameLength, 3);
    EXPECT_EQ(f.state.work.frameChecksum, 0xC6);
    EXPECT_EQ(f.state.work.functionCode, 1) << "bit 7 is not part of the function code";

    f.state.status = 0;
    EXPECT_EQ(Run({0x01, 0x03, 0x00, 0x00, 0x41, 0x46}), 0x00);
}

TEST_F(DispatchTest, ChecksumMismatchSetsBitZeroAndIsNotCarriedOut)
{
    EXPECT_EQ(Run({0x81, 0x03, 0x00, 0x00, 0x41, 0xC5}), 0x01);
    EXPECT_TRUE(f.view.runs.empty());
    EXPECT_EQ(f.state.work.frameChecksum, 0xC5);
}

// Allowed data lengths per function code; nullopt: always rejected.
struct LengthRule {
    int min, max;
};
const std::optional<LengthRule> kRules[15] = {
    std::nullopt,       LengthRule{3, 23}, LengthRule{3, 117}, LengthRule{1, 1}, LengthRule{1, 1},
    LengthRule{1, 1},   LengthRule{1, 1},  std::nullopt,       LengthRule{5, 8}, LengthRule{1, 21},
    LengthRule{4, 117}, LengthRule{3, 3},  std::nullopt,       std::nullopt,     LengthRule{3, 3},
};

TEST_F(DispatchTest, EveryFunctionCodeAcceptsExactlyItsLengths)
{
    for (int code = 0; code <= 14; ++code) {
        for (int length = 0; length <= 117; ++length) {
            Place(EngineFixture::Frame(static_cast<std::uint8_t>(code), Bytes(length, 0x00)));
            f.state.status = 0;
            const bool allowed = kRules[code] && length >= kRules[code]->min && length <= kRules[code]->max;
            EXPECT_EQ(f.link.ValidateFrame(), allowed ? 0x00 : 0x08) << "code " << code << " length " << length;
        }
    }
}

TEST_F(DispatchTest, BothChecksRunOnOneFrame)
{
    Bytes frame = EngineFixture::Frame(7, {0x00});
    frame.back() ^= 0xFF;
    EXPECT_EQ(Run(frame), 0x09);
}

TEST_F(DispatchTest, ErrorNibbleOfEarlierFramesStopsExecution)
{
    f.state.status = 0x28; // key 2 held, a clipped run earlier in the block
    EXPECT_EQ(Run(EngineFixture::Frame(2, {0, 0, 0xFF})), 0x08);
    EXPECT_TRUE(f.view.runs.empty());
    EXPECT_EQ(f.state.status, 0x28);
}

TEST_F(DispatchTest, ValidFrameClearsNeedSyncAndFailingFrameLeavesIt)
{
    EXPECT_EQ(f.link.needSync, 1u);
    Run(EngineFixture::Frame(7, {}));
    EXPECT_EQ(f.link.needSync, 1u);
    f.state.status = 0;
    Run(EngineFixture::Frame(5, {0x00}));
    EXPECT_EQ(f.link.needSync, 0u);
    f.link.needSync = 1;
    f.state.status = 0x01;
    Run(EngineFixture::Frame(5, {0x00}));
    EXPECT_EQ(f.link.needSync, 1u) << "the block's earlier error still counts";
}

TEST_F(DispatchTest, FrameIsReadAtTheCursor)
{
    Place(EngineFixture::Frame(1, {0, 0, 'A'}, false));
    EXPECT_EQ(Run(EngineFixture::Frame(2, {20, 4, 0x3C}), 6), 0x00);
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{20, 4, 1}}));
}

TEST_F(DispatchTest, FrameReachingPastTheBufferIsReadSafely)
{
    // A length byte that points far beyond the buffer: the missing bytes read
    // as 0, so the checksum cannot match.
    Place({0x82, 100}, 110);
    EXPECT_EQ(f.link.ValidateFrame(), 0x01);
    f.state.status = 0;
    Place({0x80, 0x00, 0x81}, 117);
    EXPECT_EQ(f.link.ValidateFrame(), 0x08) << "function code 0";
}

TEST_F(DispatchTest, CodesWithoutCommandsDrawNothing)
{
    for (std::uint8_t code : {0, 5, 7, 12, 13, 15, 127}) {
        Place(EngineFixture::Frame(2, {0, 0, 0xFF}));
        f.state.work.frameLength = 3;
        f.state.work.functionCode = code;
        f.link.ExecuteFrame();
    }
    EXPECT_TRUE(f.view.runs.empty());
    EXPECT_EQ(f.state.status, 0);
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST_F(DispatchTest, BadChecksumFirstSkipsTheRestOfTheBlockButItIsAnswered)
{
    Bytes first = EngineFixture::Frame(2, {0, 0, 0xFF}, false);
    first.back() ^= 0x01;
    // The second frame's bad length adds bit 0x08 at validation; the third
    // would add it only if it were carried out.
    const Bytes block =
        Concat({first, EngineFixture::Frame(4, {0x00, 0x00}, false), EngineFixture::Frame(4, {0x40}, true)});
    EXPECT_EQ(f.Exchange(block), (Bytes{0x05, 0x01, 0x09, 0x10}));
    EXPECT_TRUE(f.view.runs.empty());
}

TEST_F(DispatchTest, ClippedRunStopsTheRestOfTheBlock)
{
    const Bytes block =
        Concat({EngineFixture::Frame(2, {126, 0, 1, 2, 3}, false), EngineFixture::Frame(2, {0, 1, 0xFF}, true)});
    EXPECT_EQ(f.Exchange(block), (Bytes{0x05, 0x01, 0x08, 0x0F}));
    EXPECT_EQ(Places(), (std::vector<RunPlace>{{126, 0, 2}}));
}

} // namespace
} // namespace quillon::testing
