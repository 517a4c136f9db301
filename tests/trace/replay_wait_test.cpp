// A device that answers the moment the panel replies: its recording marks
// the answer, and the replay holds the next block until the replayed panel
// has answered too, however early its time falls.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "link/panel_engine.h"
#include "tests/support/fakes.h"
#include "trace/frame_decoder.h"
#include "trace/recording.h"
#include "trace/replay_port.h"
#include "trace/trace_rows.h"

namespace quillon {
namespace {

using testing::Bytes;
using testing::ManualClock;

TEST(ReplayWait, BytesAfterAMarkedAnswerWaitForThePanelsOwn)
{
    const Bytes first = EncodeFrame(kBlankArea, Bytes{0 | 7 << 3});
    const Bytes second = EncodeFrame(kWriteArray, Bytes{0, 0, 0xFF});
    std::string text = "quillon-recording 1\n0";
    for (const std::uint8_t byte : first) {
        text += " " + HexBytes({&byte, 1});
    }
    text += "\n# reply\n0";
    for (const std::uint8_t byte : second) {
        text += " " + HexBytes({&byte, 1});
    }
    text += "\n";
    const Recording recording = ParseRecording(text);
    ASSERT_FALSE(recording.problem) << recording.problem->message;
    ASSERT_EQ(recording.chunks.size(), 2u);
    EXPECT_FALSE(recording.chunks[0].afterReply);
    EXPECT_TRUE(recording.chunks[1].afterReply);

    ManualClock clock;
    ReplayPort port(recording.chunks, clock);
    PanelEngine panel(port, clock);
    panel.SetLinkEnabled(true);
    const auto receive = [&panel] {
        while (panel.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
        }
    };
    receive();
    std::size_t waiting = 0;
    ASSERT_TRUE(port.BytesWaiting(waiting));
    EXPECT_EQ(waiting, 0u) << "the second block waits for the answer to the first";
    panel.Tick();
    receive();
    panel.Tick();
    EXPECT_TRUE(port.finished());
    EXPECT_EQ(panel.display().Column(0, 0), 0xFF) << "both blocks carried out, no receive error";

    // Without an answer, the bytes go a second of recording time late.
    ManualClock silentClock;
    ReplayPort silent(recording.chunks, silentClock);
    std::uint8_t byte = 0;
    for (std::size_t i = 0; i < first.size(); ++i) {
        ASSERT_TRUE(silent.ReadByte(byte));
    }
    EXPECT_FALSE(silent.ReadByte(byte));
    silentClock.Advance(ReplayPort::kAnswerWaitUs / 1000);
    EXPECT_TRUE(silent.ReadByte(byte));
    EXPECT_EQ(byte, second.front());
}

// A recording played to its end leaves the line over, not silent: the
// screen it drew stays, however long the panel runs on.
TEST(ReplayEnd, TheLastScreenStaysAfterTheRecording)
{
    const Bytes block = EncodeBlock(std::vector<FrameContent>{
        {kBlankArea, {0 | 7 << 3}},
        {kWriteString, {4, 0x0B, 'E', 'n', 'd'}},
    });
    std::string text = "quillon-recording 1\n0";
    for (const std::uint8_t byte : block) {
        text += " " + HexBytes({&byte, 1});
    }
    const Recording recording = ParseRecording(text + "\n");
    ASSERT_FALSE(recording.problem) << recording.problem->message;

    ManualClock clock;
    ReplayPort port(recording.chunks, clock);
    PanelEngine panel(port, clock);
    panel.SetLinkEnabled(true);
    while (panel.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    panel.Tick();
    ASSERT_TRUE(port.finished());
    EXPECT_TRUE(panel.lineEnded());
    const testing::Pages played = testing::PagesOf(panel.display());
    for (int second = 0; second < 30; ++second) {
        clock.Advance(1000);
        panel.Tick();
    }
    EXPECT_EQ(testing::PagesOf(panel.display()), played) << "no Communications Error over the replayed screen";
}

// The reader may take the device's answer to a reply before the reply's own
// event is told: the answer's bytes already carry the next block's number.
TEST(ReplayWait, AnAnswerToldBeforeItsReplyStaysWithTheNextBlock)
{
    const Bytes poll = EncodeFrame(kReadSwitches, Bytes{0});
    std::vector<LinkEvent> events;
    std::uint64_t timeUs = 1000;
    const auto byte = [&](std::uint8_t value, std::uint32_t block) {
        LinkEvent event;
        event.kind = LinkEventKind::ByteReceived;
        event.timeUs = timeUs += 100;
        event.block = block;
        event.byte = value;
        events.push_back(event);
    };
    for (const std::uint8_t value : poll) {
        byte(value, 1);
    }
    LinkEvent frame;
    frame.kind = LinkEventKind::FrameCompleted;
    frame.block = 1;
    frame.SetBytes(poll);
    events.push_back(frame);
    frame.kind = LinkEventKind::FrameExecuted;
    frame.frame = 1;
    frame.executed = true;
    events.push_back(frame);
    byte(poll[0], 2);
    LinkEvent reply;
    reply.kind = LinkEventKind::ReplySent;
    reply.timeUs = timeUs += 100;
    reply.block = 1;
    reply.SetBytes(ShortStatusFrame(0));
    events.push_back(reply);
    byte(poll[1], 2);

    std::vector<TraceRow> rows;
    TraceBuilder builder(0, [&rows](const TraceRow& row) { rows.push_back(row); });
    const auto path = std::filesystem::temp_directory_path() / "quillon-answer-test.txt";
    {
        LineWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(path.string(), error)) << error;
        Recorder recorder(writer, 0);
        for (const LinkEvent& event : events) {
            builder.OnLinkEvent(event);
            recorder.OnLinkEvent(event);
        }
    }
    const Recording recording = ReadRecordingFile(path.string());
    std::filesystem::remove(path);
    ASSERT_FALSE(recording.problem) << recording.problem->message;
    ASSERT_EQ(recording.chunks.size(), 2u);
    EXPECT_EQ(recording.chunks[0].bytes, poll);
    EXPECT_EQ(recording.chunks[1].bytes, (Bytes{poll[0], poll[1]}));
    EXPECT_TRUE(recording.chunks[1].afterReply);

    ASSERT_EQ(rows.size(), 2u) << "the frame and its reply, no stray bytes";
    EXPECT_EQ(rows[0].kind, TraceKind::Frame);
    EXPECT_EQ(rows[1].kind, TraceKind::Reply);
    EXPECT_EQ(rows[1].error, "");
}

} // namespace
} // namespace quillon
