#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/observer_list.h"
#include "link/panel_engine.h"
#include "protocol/protocol.h"
#include "tests/support/fakes.h"
#include "trace/recording.h"
#include "trace/replay_port.h"
#include "trace/trace_rows.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ManualClock;
using testing::QueuePort;

// An engine with no reader thread, its events turned into trace rows.
struct TracedEngine {
    TracedEngine()
        : engine(port, clock), builder(clock.NowMicros(), [this](const TraceRow& row) { rows.push_back(row); })
    {
        engine.SetLinkEnabled(true);
        engine.SetObserver(&builder);
    }
    void Send(const Bytes& bytes, std::uint32_t msPerByte = 1)
    {
        for (const std::uint8_t byte : bytes) {
            port.Feed({byte});
            engine.receiver().ReceivePass();
            clock.Advance(msPerByte);
        }
    }
    void TickFor(std::uint32_t ms)
    {
        for (std::uint32_t t = 0; t < ms; t += 10) {
            clock.Advance(10);
            engine.Tick();
        }
    }

    QueuePort port;
    ManualClock clock;
    PanelEngine engine;
    std::vector<TraceRow> rows;
    TraceBuilder builder;
};

TEST(TraceRows, AFrameAndItsReplyBecomeTwoRowsInBothFormats)
{
    TracedEngine t;
    t.Send(EncodeFrame(kWriteString, Bytes{0, 0, 'A'}));
    t.TickFor(10);

    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(FormatJsonRow(t.rows[0]),
              "{\"t\":5.000,\"dir\":\"device\",\"kind\":\"frame\",\"block\":1,\"bytes\":\"81 03 00 00 41 C6\","
              "\"code\":1,\"name\":\"WRITE STRING\",\"frame\":1,\"injected\":false,"
              "\"meaning\":\"WRITE STRING size 0, page 0, column 0: \\\"A\\\" (last of block)\",\"error\":null}");
    EXPECT_EQ(FormatTextRow(t.rows[1]),
              "      16.000  panel   block 1      05 01 00 07  short status 0x00: no error, no key");
    EXPECT_EQ(t.rows[0].changed, (DisplayRect{0, 0, 6, 8}));
    EXPECT_EQ(t.engine.display().Writer(0, 3), t.rows[0].frame) << "the memory names the frame that drew there";
}

TEST(TraceRows, AFaultOnADeviceByteFollowsTheRowsOfEarlierTimes)
{
    TracedEngine t;
    const std::uint64_t startUs = t.clock.NowMicros();
    t.Send(EncodeFrame(kWriteString, Bytes{0, 0, 'A'}));
    // A byte of the next block changed on its way in, told by the reader
    // before the frame that completed earlier has been carried out.
    LinkEvent flipped;
    flipped.kind = LinkEventKind::FaultInjected;
    flipped.fault = FaultKind::FlipBit;
    flipped.effect = FaultEffect::BitFlipped;
    flipped.timeUs = startUs + 8000;
    t.builder.OnLinkEvent(flipped);
    t.TickFor(10);

    std::vector<TraceKind> kinds;
    std::vector<std::uint64_t> times;
    for (const TraceRow& row : t.rows) {
        kinds.push_back(row.kind);
        times.push_back(row.timeUs);
    }
    EXPECT_EQ(kinds, (std::vector{TraceKind::Frame, TraceKind::Fault, TraceKind::Reply}));
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(t.rows[1].number, 2U);
}

// A device that floods the panel with bytes that make no frame never lets it
// answer; the flood is still told, a row every 100 ms with its count.
TEST(TraceRows, AFloodOfRefusedBytesIsARowEvery100ms)
{
    TracedEngine t;
    Bytes flood(1000, 0x7F);
    for (std::size_t i = 0; i < flood.size(); i += 100) {
        t.Send(Bytes(flood.begin() + static_cast<long>(i), flood.begin() + static_cast<long>(i) + 100));
        t.engine.Tick();
    }
    ASSERT_GE(t.rows.size(), 9U);
    ASSERT_LE(t.rows.size(), 10U);
    for (const TraceRow& row : t.rows) {
        EXPECT_EQ(row.kind, TraceKind::Bytes);
        EXPECT_NE(row.error.find("bad function code"), std::string::npos) << row.error;
        EXPECT_EQ(row.bytes.size(), 64U);
        EXPECT_EQ(row.meaning, "bytes refused by the receiver: 100 bytes, the first 64 shown");
    }
    EXPECT_EQ(t.rows[1].timeUs - t.rows[0].timeUs, 100'000U);
}

// A port that found bytes queued from before it opened, and dropped them,
// says how many; a clean open says nothing more.
TEST(TraceRows, APortOpenedTellsTheStaleBytesItDropped)
{
    const struct {
        PortChange change;
        int detail;
        const char* meaning;
    } cases[] = {
        {PortChange::Opened, 0, "port opened"},
        {PortChange::Opened, 12, "port opened, 12 stale bytes dropped"},
        {PortChange::Opened, 1, "port opened, 1 stale byte dropped"},
        {PortChange::OpenedAgain, 0, "port opened again"},
        {PortChange::OpenedAgain, 300, "port opened again, 300 stale bytes dropped"},
        {PortChange::OpenFailed, 3, "port could not be opened"},
    };
    for (const auto& c : cases) {
        TracedEngine t;
        t.engine.TellPortChange(c.change, c.detail);
        ASSERT_EQ(t.rows.size(), 1u);
        EXPECT_EQ(t.rows[0].kind, TraceKind::Note);
        EXPECT_EQ(t.rows[0].meaning, c.meaning);
        EXPECT_NE(FormatTextRow(t.rows[0]).find(c.meaning), std::string::npos) << FormatTextRow(t.rows[0]);
    }
}

TEST(TraceRows, AReceiveErrorIsOneRowOfItsBytesAnsweredByTheTimedOutReply)
{
    TracedEngine t;
    t.Send({0x0F, 0x01, 0x02});
    t.TickFor(130);

    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[0].kind, TraceKind::Bytes);
    EXPECT_EQ(t.rows[0].bytes, (Bytes{0x0F, 0x01, 0x02}));
    EXPECT_EQ(t.rows[0].error, "bad function code");
    EXPECT_EQ(t.rows[1].kind, TraceKind::Reply);
    EXPECT_EQ(t.rows[1].bytes, (Bytes{0x05, 0x01, 0x08, 0x0F}));
    EXPECT_EQ(t.rows[1].error, "receive error answered after 120 ms of quiet");
}

TEST(TraceRows, AFrameWithAWrongChecksumSaysWhatWasExpected)
{
    TracedEngine t;
    Bytes frame = EncodeFrame(kReadSwitches, Bytes{0});
    frame.back() = 0x55;
    t.Send(frame);
    t.TickFor(10);

    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[0].error, "checksum 0x55, expected 0x87");
    EXPECT_FALSE(t.rows[0].executed);
    EXPECT_EQ(t.rows[1].status, kStatusChecksumError);
}

struct ParseCase {
    std::string text;
    std::size_t chunks;
    std::size_t problemOffset; // npos: none
};

TEST(Recording, ParsingStopsAtTheFirstProblemWithItsOffset)
{
    constexpr auto kNone = std::string::npos;
    const std::vector<ParseCase> cases{
        {"quillon-recording 1\n# note\n\n0 81 03\n1042 00 00 41 C6\n", 2, kNone},
        {"quillon-recording 1\n0 81 03\n1042 00 0", 1, 28},
        {"quillon-recording 2\n0 81\n", 0, 18},
        {"quillon-recording 1\n0 81\n5 8X\n10 85\n", 1, 27},
        {"quillon-recording 1\n50 81\n40 85\n", 1, 26},
        {"quillon-recording 1\nabc 81\n", 0, 20},
        {"hello\n", 0, 0},
        {"", 0, 0},
    };
    for (const ParseCase& c : cases) {
        const Recording recording = ParseRecording(c.text);
        EXPECT_EQ(recording.chunks.size(), c.chunks) << c.text;
        if (c.problemOffset == kNone) {
            EXPECT_FALSE(recording.problem) << c.text;
        } else {
            ASSERT_TRUE(recording.problem) << c.text;
            EXPECT_EQ(recording.problem->offset, c.problemOffset) << c.text << recording.problem->message;
        }
    }
}

TEST(Recording, ARecordedSessionReplaysIntoTheSameDisplay)
{
    const auto path = std::filesystem::temp_directory_path() / "quillon-recording-test.txt";
    TracedEngine live;
    {
        LineWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(path.string(), error)) << error;
        Recorder recorder(writer, live.clock.NowMicros());
        ObserverList observers;
        observers.Add(&live.builder);
        observers.Add(&recorder);
        live.engine.SetObserver(&observers);
        live.Send(EncodeBlock(
            std::vector<FrameContent>{{kWriteFrameHeader, {'M', 'E', 'N', 'U'}}, {kWriteString, {4, 0x0B, 'O', 'K'}}}));
        live.TickFor(20);
        live.Send(EncodeFrame(kDrawIcon, Bytes{50, 5, 3}), 3);
        live.TickFor(20);
        live.engine.SetObserver(nullptr);
    }

    const Recording recording = ReadRecordingFile(path.string());
    std::filesystem::remove(path);
    ASSERT_FALSE(recording.problem) << recording.problem->message;
    ASSERT_FALSE(recording.chunks.empty());

    ManualClock clock;
    ReplayPort port(recording.chunks, clock);
    PanelEngine replayed(port, clock);
    replayed.SetLinkEnabled(true);
    while (!port.finished()) {
        while (replayed.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
        }
        clock.Advance(1);
        replayed.Tick();
    }
    replayed.Tick();
    for (int page = 0; page < kDisplayPages; ++page) {
        EXPECT_EQ(replayed.display().PageBytes(page), live.engine.display().PageBytes(page)) << "page " << page;
    }
    EXPECT_NE(live.engine.display().Column(0, 60), 0) << "the live run drew the header";
}

} // namespace
} // namespace quillon
