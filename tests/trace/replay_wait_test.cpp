// A device that answers the moment the panel replies: its recording marks
// the answer, and the replay holds the next block until the replayed panel
// has answered too, however early its time falls.
#include <gtest/gtest.h>

#include "link/panel_engine.h"
#include "protocol/frame_decoder.h"
#include "tests/support/fakes.h"
#include "trace/recording.h"
#include "trace/replay_port.h"

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

} // namespace
} // namespace quillon
