#include "demo/reply_parser.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "protocol/protocol.h"

namespace quillon::demo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = PanelMessage::Kind;

// Bytes that arrive together at one moment.
struct Arrival {
    std::uint32_t atMs;
    Bytes bytes;
};

struct ParserCase {
    const char* name;
    std::vector<Arrival> arrivals;
    std::vector<PanelMessage> messages;
    std::uint32_t dropped;
};

PanelMessage Reply(ReplyForm form, std::uint8_t status)
{
    return {Kind::Reply, form, status};
}

const PanelMessage kSynch{Kind::SynchRequest, ReplyForm::SingleByte, 0};

Bytes Of(std::initializer_list<std::uint8_t> bytes)
{
    return bytes;
}

Bytes Long(std::uint8_t status)
{
    const auto frame = LongStatusFrame(status);
    return {frame.begin(), frame.end()};
}

Bytes Short(std::uint8_t status)
{
    const auto frame = ShortStatusFrame(status);
    return {frame.begin(), frame.end()};
}

Bytes Synch()
{
    return {kSynchRequest.begin(), kSynchRequest.end()};
}

class ReplyParserTest : public ::testing::TestWithParam<ParserCase> {};

TEST_P(ReplyParserTest, SplitsTheStreamIntoMessages)
{
    ReplyParser parser;
    std::vector<PanelMessage> messages;
    for (const Arrival& arrival : GetParam().arrivals) {
        for (std::uint8_t byte : arrival.bytes) {
            if (const auto message = parser.Feed(byte, arrival.atMs)) {
                messages.push_back(*message);
            }
        }
    }
    EXPECT_EQ(messages, GetParam().messages);
    EXPECT_EQ(parser.DroppedBytes(), GetParam().dropped);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ReplyParserTest,
    ::testing::Values(ParserCase{"SingleByteReplies",
                                 {{0, Of({0x00, 0x28, 0x81, 0x19})}},
                                 {Reply(ReplyForm::SingleByte, 0x00), Reply(ReplyForm::SingleByte, 0x28),
                                  Reply(ReplyForm::SingleByte, 0x81), Reply(ReplyForm::SingleByte, 0x19)},
                                 0},
                      ParserCase{"ShortStatusFrame", {{0, Short(0x40)}}, {Reply(ReplyForm::ShortFrame, 0x40)}, 0},
                      ParserCase{"LongStatusFrame", {{0, Long(0x10)}}, {Reply(ReplyForm::LongFrame, 0x10)}, 0},
                      ParserCase{"SynchRequestThenReplies",
                                 {{0, Synch()}, {5, Short(0x00)}, {9, Of({0x80})}},
                                 {kSynch, Reply(ReplyForm::ShortFrame, 0x00), Reply(ReplyForm::SingleByte, 0x80)},
                                 0},
                      // The inside of a damaged frame (here 0x20, the left key) must not
                      // come out as replies of its own.
                      ParserCase{"BadChecksumDropsTheWholeFrame",
                                 {{0, Of({0x05, 0x01, 0x20, 0x26})}, {2, Short(0x00)}},
                                 {Reply(ReplyForm::ShortFrame, 0x00)},
                                 4},
                      // A stray 0x0E before a reply costs that byte only.
                      ParserCase{"LengthThatDoesNotFitTheCodeRestartsAtThatByte",
                                 {{0, Of({0x0E})}, {1, Short(0x10)}},
                                 {Reply(ReplyForm::ShortFrame, 0x10)},
                                 1},
                      ParserCase{"BytesThatCannotBeAStatusAreDropped", {{0, Of({0x15, 0x30, 0x22, 0x0C})}}, {}, 4},
                      ParserCase{
                          "AnAlteredSynchRequestIsNoRequest", {{0, Of({0x32, 0x03, 0x01, 0x15, 0x21, 0x6D})}}, {}, 6},
                      ParserCase{"AFrameSplitWithinTheGapIsKept",
                                 {{0, Of({0x05, 0x01})}, {ReplyParser::kByteGapMs, Of({0x40, 0x47})}},
                                 {Reply(ReplyForm::ShortFrame, 0x40)},
                                 0},
                      ParserCase{"AFrameLeftUnfinishedIsDroppedAfterTheGap",
                                 {{0, Of({0x0E, 0x09, 0x00})}, {ReplyParser::kByteGapMs + 1, Of({0x00})}},
                                 {Reply(ReplyForm::SingleByte, 0x00)},
                                 3}),
    [](const ::testing::TestParamInfo<ParserCase>& info) { return info.param.name; });

TEST(ReplyParserStatusByte, AcceptsExactlyTheStatusBytesThePanelCanSend)
{
    std::set<int> sendable;
    for (int key : {0x00, 0x10, 0x20, 0x40, 0x80}) {
        for (int errors : {0x00, 0x01, 0x08, 0x09}) {
            sendable.insert(key | errors);
        }
    }
    for (int byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(IsStatusByte(static_cast<std::uint8_t>(byte)), sendable.contains(byte)) << byte;
    }
}

} // namespace
} // namespace quillon::demo
