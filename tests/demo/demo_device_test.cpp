// The demo device's own loop against the engine, inline on the test thread:
// every block the device writes is received and answered at once, and every
// wait of the device moves its hand-driven clock, so time-outs, retries and
// animation run without sleeping.
#include "demo/demo_device.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "tests/demo/panel_pictures.h"
#include "tests/support/fakes.h"

namespace quillon::demo {
namespace {

using testing::EngineFixture;
using testing::LineIsInverse;
using testing::ManualClock;
using testing::MenuAt;
using testing::Pages;
using testing::PagesOf;
using testing::PictureOf;
using testing::ScreenOf;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kEveryCarriedOutCode =
    1 << 1 | 1 << 2 | 1 << 3 | 1 << 4 | 1 << 5 | 1 << 6 | 1 << 8 | 1 << 9 | 1 << 10 | 1 << 11 | 1 << 14;

Block ReadSwitchesBlock()
{
    return PackBlocks({ReadSwitches()}).front();
}

// The device's end of a line whose far end is an engine run inline.
class LoopbackLine : public PanelPort {
public:
    explicit LoopbackLine(ManualClock& deviceClock) : deviceClock_(deviceClock) {}

    bool BytesWaiting(std::size_t& count) override
    {
        count = toDevice_.size();
        return true;
    }

    bool ReadByte(std::uint8_t& byte) override
    {
        if (toDevice_.empty()) {
            return false;
        }
        byte = toDevice_.front();
        toDevice_.pop_front();
        return true;
    }

    bool Write(const std::uint8_t* data, std::size_t length) override
    {
        ++writes;
        if (unplugged) {
            return false;
        }
        Bytes bytes(data, data + length);
        // Anything longer than a key poll draws.
        const bool draws = length > ReadSwitchesBlock().size();
        if (draws && corruptDrawings > 0) {
            --corruptDrawings;
            bytes.back() ^= 0x5A;
        }
        panel->Receive(bytes);
        panel->engine.Tick();
        Bytes reply = panel->port.TakeWritten();
        if (reply.empty() && panel->engine.receiver().errors() != 0) {
            // A receive error is answered once the line has been quiet for
            // 120 ms, well within the device's wait.
            panel->clock.Advance(121);
            panel->engine.Tick();
            reply = panel->port.TakeWritten();
        }
        if (draws && dropNextDrawingReply) {
            dropNextDrawingReply = false;
        } else {
            SendToDevice(reply);
        }
        return true;
    }

    void WaitForInput(int timeoutMs) override
    {
        ++waits;
        if (timeoutMs <= 0) {
            ++waitsThatDoNotWait;
        }
        deviceClock_.Advance(static_cast<std::uint32_t>(std::max(timeoutMs, 0)));
        if (onWait) {
            onWait();
        }
    }

    void SendToDevice(const Bytes& bytes) { toDevice_.insert(toDevice_.end(), bytes.begin(), bytes.end()); }

    // Runs the panel's supervisor once and passes on what it sends.
    void TickPanel()
    {
        panel->engine.Tick();
        SendToDevice(panel->port.TakeWritten());
    }

    // A click on a key: pressed, then let go.
    void Click(Key key)
    {
        panel->engine.keys().Press(static_cast<std::uint8_t>(key));
        panel->engine.keys().Release();
    }

    // The panel switched off and on again: a blank display, nothing received.
    void RestartPanel() { panel = std::make_unique<EngineFixture>(); }

    Pages Picture() const { return PagesOf(panel->display()); }

    std::unique_ptr<EngineFixture> panel = std::make_unique<EngineFixture>();
    std::function<void()> onWait;
    // Faults for the next blocks that draw: the reply lost, or the last
    // byte damaged on the way (of so many blocks).
    bool dropNextDrawingReply = false;
    int corruptDrawings = 0;
    bool unplugged = false;
    int writes = 0;
    int waits = 0;
    int waitsThatDoNotWait = 0;

private:
    ManualClock& deviceClock_;
    std::deque<std::uint8_t> toDevice_;
};

class DemoDeviceTest : public ::testing::Test {
protected:
    DemoDeviceTest() : device(line, clock, Options()) {}

    static DemoOptions Options()
    {
        DemoOptions options;
        options.paceWrites = false;
        return options;
    }

    // Runs the device until the condition holds, at most limitMs of its clock.
    bool RunUntil(const std::function<bool()>& condition, std::uint32_t limitMs = 20000)
    {
        const std::uint32_t start = clock.NowMs();
        bool held = false;
        std::stop_source stop;
        line.onWait = [&] {
            held = condition();
            if (held || clock.NowMs() - start > limitMs) {
                stop.request_stop();
            }
        };
        device.Run(stop.get_token());
        return held;
    }

    bool RunUntilShown(const DemoModel& model)
    {
        return RunUntil([&] { return device.Status().shown == model; });
    }

    // Clicks a key and runs the device until the panel shows the model.
    void ClickAndExpect(Key key, const DemoModel& model)
    {
        line.Click(key);
        ASSERT_TRUE(RunUntilShown(model)) << "after key " << static_cast<int>(key);
        EXPECT_EQ(line.Picture(), PictureOf(model)) << "after key " << static_cast<int>(key);
    }

    void ExpectOnlyErrorFreeReplies()
    {
        const DemoStatus status = device.Status();
        EXPECT_GT(status.replies, 0u);
        EXPECT_EQ(status.errorReplies, 0u);
        EXPECT_EQ(status.timeouts, 0u);
        EXPECT_EQ(status.droppedBytes, 0u);
        EXPECT_EQ(status.strayReplies, 0u);
    }

    ManualClock clock{5000};
    LoopbackLine line{clock};
    DemoDevice device;
};

TEST_F(DemoDeviceTest, ATourOfEveryScreenUsesEveryFunctionCodeAndGetsOnlyErrorFreeReplies)
{
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    EXPECT_EQ(line.Picture(), PictureOf(MenuAt(0)));

    DemoModel model = MenuAt(0);
    const std::vector<Key> tour{Key::Down,  Key::Up,   Key::Right, Key::Up,   Key::Up,    Key::Left,  Key::Down,
                                Key::Right, Key::Down, Key::Left,  Key::Down, Key::Right, Key::Left,  Key::Down,
                                Key::Right, Key::Down, Key::Down,  Key::Left, Key::Down,  Key::Right, Key::Left};
    for (Key key : tour) {
        model = ApplyKey(model, key);
        ClickAndExpect(key, model);
    }
    EXPECT_EQ(model.screen, Screen::Menu);
    EXPECT_EQ(model.menuIndex, 4);
    EXPECT_EQ(model.setPoint, 44);
    EXPECT_EQ(model.contrast, 31);
    EXPECT_EQ(model.pattern, 2);
    EXPECT_EQ(line.panel->engine.controller().contrast(), 31) << "the contrast reached the panel";

    // The status screen moves on by itself.
    for (Key key : {Key::Down, Key::Down, Key::Down, Key::Right}) {
        model = ApplyKey(model, key);
        ClickAndExpect(key, model);
    }
    ASSERT_EQ(model.screen, Screen::Status);
    ASSERT_TRUE(RunUntil([&] {
        const auto shown = device.Status().shown;
        return shown && shown->statusStep >= 2;
    }));
    EXPECT_EQ(line.Picture(), PictureOf(*device.Status().shown));

    const DemoStatus status = device.Status();
    EXPECT_EQ(status.functionCodesSent, kEveryCarriedOutCode);
    EXPECT_EQ(status.replyForm, ReplyForm::ShortFrame);
    EXPECT_EQ(status.redraws, 1u);
    ExpectOnlyErrorFreeReplies();
}

TEST_F(DemoDeviceTest, AMissingReplyIsWaitedForThenTheBlockIsSentAgain)
{
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    const std::uint32_t before = clock.NowMs();
    line.dropNextDrawingReply = true;
    line.Click(Key::Down);
    ASSERT_TRUE(RunUntilShown(MenuAt(1)));

    const DemoStatus status = device.Status();
    EXPECT_EQ(status.timeouts, 1u);
    EXPECT_TRUE(status.connected);
    EXPECT_GE(clock.NowMs() - before, 500u) << "the device waited out its reply time-out";
    EXPECT_EQ(line.Picture(), PictureOf(MenuAt(1)));
}

TEST_F(DemoDeviceTest, AnErrorReplyGetsTheBlockSentOnceMore)
{
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    line.corruptDrawings = 1;
    line.Click(Key::Right);
    ASSERT_TRUE(RunUntilShown(ScreenOf(Screen::SetPoint, 0)));

    const DemoStatus status = device.Status();
    EXPECT_EQ(status.errorReplies, 1u);
    EXPECT_EQ(status.lastErrorStatus, kStatusChecksumError);
    EXPECT_EQ(status.redraws, 1u) << "a checksum error is no reason to redraw";
    EXPECT_EQ(status.timeouts, 0u);
    EXPECT_EQ(line.Picture(), PictureOf(ScreenOf(Screen::SetPoint, 0)));
}

TEST_F(DemoDeviceTest, ABlockRefusedOnEveryAttemptGetsTheWholeScreenDrawnAgain)
{
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    line.corruptDrawings = 2;
    line.Click(Key::Right);
    ASSERT_TRUE(RunUntilShown(ScreenOf(Screen::SetPoint, 0)));

    const DemoStatus status = device.Status();
    EXPECT_EQ(status.errorReplies, 2u);
    EXPECT_EQ(status.redraws, 2u);
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(line.Picture(), PictureOf(ScreenOf(Screen::SetPoint, 0)));
}

TEST_F(DemoDeviceTest, APanelThatStopsAnsweringIsLookedForCalmlyAndRedrawnWhenItIsBack)
{
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    line.unplugged = true;
    ASSERT_TRUE(RunUntil([&] { return !device.Status().connected; }));
    EXPECT_FALSE(device.Status().shown.has_value());

    // Ten seconds without a panel: a look every second or so, and real waits.
    const int writesBefore = line.writes;
    const int waitsBefore = line.waits;
    EXPECT_FALSE(RunUntil([] { return false; }, 10000));
    EXPECT_LE(line.writes - writesBefore, 11);
    EXPECT_GE(line.writes - writesBefore, 9);
    EXPECT_LE(line.waits - waitsBefore, 10000 / 10);
    EXPECT_EQ(line.waitsThatDoNotWait, 0);

    // The panel comes back blank, as after a restart.
    line.RestartPanel();
    line.unplugged = false;
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    EXPECT_EQ(line.Picture(), PictureOf(MenuAt(0)));
    EXPECT_EQ(device.Status().redraws, 2u);
}

TEST_F(DemoDeviceTest, ASynchronisationRequestGetsTheWholeScreenDrawnAgain)
{
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    ClickAndExpect(Key::Right, ScreenOf(Screen::SetPoint, 0));

    // The panel has restarted, lost its picture and asks for the device.
    line.RestartPanel();
    line.SendToDevice(Bytes(kSynchRequest.begin(), kSynchRequest.end()));
    ASSERT_TRUE(RunUntil([&] { return device.Status().redraws == 2 && device.Status().shown; }));

    EXPECT_EQ(device.Status().synchRequests, 1u);
    EXPECT_EQ(line.Picture(), PictureOf(ScreenOf(Screen::SetPoint, 0)));
    ExpectOnlyErrorFreeReplies();
}

TEST_F(DemoDeviceTest, ThePanelsSilenceMessageIsDrawnOver)
{
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    // More than ten seconds without a byte: the panel shows its own message
    // and sends status 0x01 on its own.
    line.panel->clock.Advance(10001);
    line.TickPanel();
    ASSERT_NE(line.Picture(), PictureOf(MenuAt(0)));

    ASSERT_TRUE(RunUntil([&] { return device.Status().redraws == 2 && device.Status().shown; }));
    EXPECT_EQ(line.Picture(), PictureOf(MenuAt(0)));
    EXPECT_EQ(device.Status().strayReplies, 1u);
}

TEST_F(DemoDeviceTest, InSynchRequiredModeTheRepliesAreSingleBytesAndTheModeIsKept)
{
    line.panel->engine.SetSynchRequired(true);
    // The panel's first request is due at its first tick.
    line.panel->clock.Advance(2001);

    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    EXPECT_EQ(device.Status().synchRequests, 1u);
    EXPECT_EQ(line.Picture(), PictureOf(MenuAt(0)));
    ClickAndExpect(Key::Down, MenuAt(1));
    ClickAndExpect(Key::Right, ScreenOf(Screen::Contrast, 1));
    DemoModel model = ScreenOf(Screen::Contrast, 1);
    model.contrast = 33;
    ClickAndExpect(Key::Up, model);
    model.screen = Screen::Menu;
    ClickAndExpect(Key::Left, model);

    EXPECT_EQ(line.panel->engine.replyMode(), kSingleByteReplyMode) << "setting the contrast kept the mode";
    EXPECT_TRUE(LineIsInverse(line.Picture(), 3));
    EXPECT_EQ(device.Status().replyForm, ReplyForm::SingleByte);
    ExpectOnlyErrorFreeReplies();
}

TEST_F(DemoDeviceTest, HoldingUpRunsTheValueUp)
{
    ASSERT_TRUE(RunUntilShown(MenuAt(0)));
    ClickAndExpect(Key::Right, ScreenOf(Screen::SetPoint, 0));
    // Held: latched and never let go.
    line.panel->engine.keys().Press(static_cast<std::uint8_t>(Key::Up));
    ASSERT_TRUE(RunUntil([&] {
        const auto shown = device.Status().shown;
        return shown && shown->setPoint == kSetPointMax;
    }));
    line.panel->engine.keys().Release();
    EXPECT_EQ(line.Picture(), PictureOf(*device.Status().shown));
}

} // namespace
} // namespace quillon::demo
