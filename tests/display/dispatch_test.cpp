#include <optional>

#include "tests/display/display_test.h"

namespace quillon::testing {
namespace {

using DispatchTest = DisplayTest;

TEST_F(DispatchTest, ChecksumCoversCodeByteAsReceived)
{
    EXPECT_EQ(Run({0x81, 0x03, 0x00, 0x00, 0x41, 0xC6}), 0x00);
    EXPECT_EQ(Columns(0, 0, 6), (Bytes{0x7E, 0x11, 0x11, 0x11, 0x7E, 0x00}))
        << "carried out as WRITE STRING: bit 7 is not part of the function code";
    EXPECT_EQ(Run({0x01, 0x03, 0x00, 0x00, 0x41, 0x46}), 0x00);
}

TEST_F(DispatchTest, ChecksumMismatchSetsBitZeroAndIsNotCarriedOut)
{
    EXPECT_EQ(Run({0x81, 0x03, 0x00, 0x00, 0x41, 0xC5}), 0x01);
    EXPECT_TRUE(runs.runs.empty());
}

// Allowed data lengths per function code; nullopt: always rejected.
struct LengthRange {
    int min, max;
};
const std::optional<LengthRange> kRules[15] = {
    std::nullopt,        LengthRange{3, 23}, LengthRange{3, 117}, LengthRange{1, 1}, LengthRange{1, 1},
    LengthRange{1, 1},   LengthRange{1, 1},  std::nullopt,        LengthRange{5, 8}, LengthRange{1, 21},
    LengthRange{4, 117}, LengthRange{3, 3},  std::nullopt,        std::nullopt,      LengthRange{3, 3},
};

TEST_F(DispatchTest, EveryFunctionCodeAcceptsExactlyItsLengths)
{
    for (int code = 0; code <= 14; ++code) {
        for (int length = 0; length <= 117; ++length) {
            const bool allowed = kRules[code] && length >= kRules[code]->min && length <= kRules[code]->max;
            EXPECT_EQ(DisplayController::ValidateFrame(Frame(static_cast<std::uint8_t>(code), Bytes(length, 0x00))),
                      allowed ? 0x00 : 0x08)
                << "code " << code << " length " << length;
        }
    }
}

TEST_F(DispatchTest, BothChecksRunOnOneFrame)
{
    Bytes frame = Frame(kWritePreDefStr, {0x00});
    frame.back() ^= 0xFF;
    EXPECT_EQ(Run(frame), 0x09);
}

TEST_F(DispatchTest, BytesPastTheFrameReadAsZero)
{
    // A length byte that points far beyond the bytes given: the missing
    // bytes read as 0, so the checksum cannot match.
    EXPECT_EQ(DisplayController::ValidateFrame(Bytes{0x82, 100}), 0x01);
    EXPECT_EQ(DisplayController::ValidateFrame(Bytes{0x80, 0x00, 0x81}), 0x08) << "function code 0";
}

TEST_F(DispatchTest, CodesWithoutCommandsDrawNothing)
{
    for (std::uint8_t code : {0, 5, 7, 12, 13, 15, 127}) {
        const auto result = display.ExecuteFrame(Frame(code, {0, 0, 0xFF}));
        EXPECT_EQ(result.errors, 0) << "code " << int(code);
        EXPECT_FALSE(result.replyMode) << "code " << int(code);
    }
    EXPECT_TRUE(runs.runs.empty());
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(DispatchInABlock, BadChecksumFirstSkipsTheRestOfTheBlockButItIsAnswered)
{
    EngineFixture f;
    Bytes first = Frame(kWriteArray, {0, 0, 0xFF}, false);
    first.back() ^= 0x01;
    // The second frame's bad length adds bit 0x08 at validation; the third
    // would add it only if it were carried out.
    const Bytes block = Concat({first, Frame(kBlankArea, {0x00, 0x00}, false), Frame(kBlankArea, {0x40}, true)});
    EXPECT_EQ(f.Exchange(block), (Bytes{0x05, 0x01, 0x09, 0x10}));
    EXPECT_TRUE(f.runs.runs.empty());
}

TEST(DispatchInABlock, ClippedRunStopsTheRestOfTheBlock)
{
    EngineFixture f;
    f.engine.keys().Press(kKeyLeft);
    const Bytes block = Concat({Frame(kWriteArray, {126, 0, 1, 2, 3}, false), Frame(kWriteArray, {0, 1, 0xFF}, true)});
    EXPECT_EQ(f.Exchange(block), (Bytes{0x05, 0x01, 0x28, 0x2F})) << "the key and the clipped run";
    EXPECT_EQ(f.runs.Places(), (std::vector<RunPlace>{{126, 0, 2}}));
}

} // namespace
} // namespace quillon::testing
