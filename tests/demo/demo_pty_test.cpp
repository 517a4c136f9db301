// The demo device against the whole engine over a pseudo-terminal, as the
// desktop program runs them: the device on its own thread at the pace of the
// wire, the engine's reader thread on the other end, and the supervisor
// ticked here with keys clicked into the engine's key latch between ticks.
#include <gtest/gtest.h>

#include <functional>

#include "link/panel_engine.h"
#include "protocol/protocol.h"
#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "tests/demo/panel_pictures.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/fakes.h"
#include "demo/demo_device.h"

namespace quillon::demo {
namespace {

using testing::Columns;
using testing::LineIsInverse;
using testing::ManualClock;
using testing::MenuAt;
using testing::Pages;
using testing::PagesOf;
using testing::PictureOf;
using testing::ScreenOf;
using testing::WaitUntil;

class DemoOnPtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(line.Create()) << line.ErrorText();
        engine.SetLinkEnabled(true);
        ASSERT_EQ(port.OpenVirtualPort(line), 0);
        engine.Start();
    }

    void TearDown() override
    {
        device.Stop();
        engine.Stop();
    }

    // Ticks the supervisor, its clock moving a millisecond a tick, until the
    // condition holds.
    bool TickUntil(const std::function<bool()>& condition)
    {
        return WaitUntil([&] {
            clock.Advance(1);
            engine.Tick();
            return condition();
        });
    }

    // Until the device says it has drawn the model and the panel shows what
    // the device's screen code draws for it.
    bool TickUntilShown(const DemoModel& model)
    {
        const Pages expected = PictureOf(model);
        return TickUntil([&] { return device.Status().shown == model && Picture() == expected; });
    }

    void Click(Key key)
    {
        engine.keys().Press(static_cast<std::uint8_t>(key));
        engine.keys().Release();
    }

    Pages Picture() const { return PagesOf(engine.display()); }

    VirtualPort line;
    ManualClock clock;
    SerialPort port;
    PanelEngine engine{port, clock};
    DemoDeviceThread device;
};

TEST_F(DemoOnPtyTest, TheScreensTheDeviceDrawsAppearAndFollowTheKeys)
{
    ASSERT_EQ(device.Start(line.DevicePath()), 0);
    ASSERT_TRUE(TickUntilShown(MenuAt(0)));
    EXPECT_TRUE(LineIsInverse(Picture(), 2));

    Click(Key::Down);
    ASSERT_TRUE(TickUntilShown(MenuAt(1)));
    EXPECT_FALSE(LineIsInverse(Picture(), 2));
    EXPECT_TRUE(LineIsInverse(Picture(), 3)) << "the highlight moved down a line";

    Click(Key::Up);
    ASSERT_TRUE(TickUntilShown(MenuAt(0)));
    Click(Key::Right);
    ASSERT_TRUE(TickUntilShown(ScreenOf(Screen::SetPoint, 0)));
    const auto thumbAt42 = SliderFor(42, kSetPointMax);
    EXPECT_EQ(Columns(engine.display(), thumbAt42.page, 125, 3),
              std::vector<std::uint8_t>(thumbAt42.bytes.begin(), thumbAt42.bytes.begin() + 3));

    Click(Key::Up);
    DemoModel model = ScreenOf(Screen::SetPoint, 0);
    model.setPoint = 43;
    ASSERT_TRUE(TickUntilShown(model));
    Click(Key::Left);
    model.screen = Screen::Menu;
    ASSERT_TRUE(TickUntilShown(model));

    const DemoStatus status = device.Status();
    EXPECT_GT(status.replies, 6u);
    EXPECT_EQ(status.errorReplies, 0u);
    EXPECT_EQ(status.timeouts, 0u);
    EXPECT_EQ(status.strayReplies, 0u);
    EXPECT_EQ(status.droppedBytes, 0u);
    EXPECT_EQ(status.replyForm, ReplyForm::ShortFrame);
}

TEST_F(DemoOnPtyTest, InSynchRequiredModeTheDeviceAnswersTheRequestAndDrawsOverTheSilenceMessage)
{
    engine.SetSynchRequired(true);
    // The first request goes out at the first tick.
    clock.Advance(2001);
    ASSERT_EQ(device.Start(line.DevicePath()), 0);
    ASSERT_TRUE(TickUntilShown(MenuAt(0)));
    EXPECT_GE(device.Status().synchRequests, 1u);
    EXPECT_EQ(device.Status().replyForm, ReplyForm::SingleByte);
    EXPECT_EQ(engine.replyMode(), kSingleByteReplyMode);

    // More than ten seconds of the panel's time without a byte: it clears
    // the display for its own message. The header rule is gone at once.
    ASSERT_TRUE(TickUntil([&] {
        clock.Advance(10001);
        engine.Tick();
        return engine.display().Column(0, 0) == 0;
    }));
    const Pages menu = PictureOf(MenuAt(0));
    ASSERT_TRUE(TickUntil([&] { return device.Status().redraws >= 2 && Picture() == menu; }));
}

} // namespace
} // namespace quillon::demo
