#include "demo/key_decoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon::demo {
namespace {

struct Reported {
    std::uint32_t atMs;
    std::uint8_t status;
};

struct DecoderCase {
    const char* name;
    std::vector<Reported> replies;
    std::vector<Key> presses;
};

class KeyDecoderTest : public ::testing::TestWithParam<DecoderCase> {};

TEST_P(KeyDecoderTest, TurnsRepliesIntoPresses)
{
    KeyDecoder decoder;
    std::vector<Key> presses;
    for (const Reported& reply : GetParam().replies) {
        if (const Key key = decoder.Feed(reply.status, reply.atMs); key != Key::None) {
            presses.push_back(key);
        }
    }
    EXPECT_EQ(presses, GetParam().presses);
}

// Replies every 50 ms with the same status from 0 to untilMs.
std::vector<Reported> Held(std::uint8_t status, std::uint32_t untilMs)
{
    std::vector<Reported> replies;
    for (std::uint32_t at = 0; at <= untilMs; at += 50) {
        replies.push_back({at, status});
    }
    return replies;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, KeyDecoderTest,
    ::testing::Values(
        DecoderCase{"AKeyInSeveralRepliesIsOnePress", {{0, 0x20}, {50, 0x20}, {100, 0x20}, {150, 0x00}}, {Key::Left}},
        DecoderCase{
            "ReleasedAndPressedAgainIsTwoPresses", {{0, 0x10}, {50, 0x00}, {100, 0x10}}, {Key::Right, Key::Right}},
        DecoderCase{"AnotherKeyWithoutReleaseIsAPress", {{0, 0x40}, {50, 0x80}}, {Key::Up, Key::Down}},
        DecoderCase{"ErrorBitsDoNotHideTheKey", {{0, 0x89}, {50, 0x08}}, {Key::Down}},
        DecoderCase{"NoKeyIsNoPress", {{0, 0x00}, {50, 0x01}, {100, 0x08}}, {}},
        // Held for a second: the press, then repeats at 500, 650, 800, 950 ms.
        DecoderCase{"UpHeldRepeats", Held(0x40, 1000), {Key::Up, Key::Up, Key::Up, Key::Up, Key::Up}},
        DecoderCase{"DownHeldRepeats", Held(0x80, 600), {Key::Down, Key::Down}},
        DecoderCase{"LeftAndRightHeldDoNotRepeat", Held(0x20, 2000), {Key::Left}}),
    [](const ::testing::TestParamInfo<DecoderCase>& info) { return info.param.name; });

TEST(KeyDecoderClock, RepeatsAcrossTheClockWrap)
{
    KeyDecoder decoder;
    const std::uint32_t start = 0xFFFFFF00u;
    EXPECT_EQ(decoder.Feed(0x40, start), Key::Up);
    EXPECT_EQ(decoder.Feed(0x40, start + 400), Key::None);
    EXPECT_EQ(decoder.Feed(0x40, start + 500), Key::Up) << "500 ms later, past the wrap";
}

} // namespace
} // namespace quillon::demo
