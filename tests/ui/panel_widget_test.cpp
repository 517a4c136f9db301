#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>

#include "tests/support/fakes.h"
#include "ui/panel_widget.h"

namespace quillon::testing {
namespace {

class PanelWidgetTest : public ::testing::Test {
protected:
    PanelWidgetTest() { engine.SetLinkEnabled(true); }

    // Lets the receiver take every byte waiting, as the reader thread would.
    void ReceiveAll()
    {
        while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
        }
    }

    // One block from the device, one tick of the widget's timer; what the
    // panel answered.
    Bytes Exchange(const Bytes& block)
    {
        port.Feed(block);
        ReceiveAll();
        QTimerEvent tick(12345);
        QCoreApplication::sendEvent(&widget, &tick);
        return port.TakeWritten();
    }

    void Press(QPoint point, Qt::MouseButton button = Qt::LeftButton) { QTest::mousePress(&widget, button, {}, point); }
    void Release(QPoint point, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseRelease(&widget, button, {}, point);
    }

    // Whether the display window of the picture shows exactly the display
    // memory.
    bool PictureShowsTheMemory() const
    {
        const QImage& picture = widget.panelImage();
        for (int y = 0; y < kDisplayHeight; ++y) {
            for (int x = 0; x < kDisplayWidth; ++x) {
                const QRgb expected =
                    engine.display().Pixel(x, y) ? PanelWidget::kDisplayInk : PanelWidget::kDisplayBackground;
                if (picture.pixel(PanelWidget::kDisplayRect.topLeft() + QPoint(x, y)) != expected) {
                    return false;
                }
            }
        }
        return true;
    }

    QueuePort port;
    ManualClock clock;
    PanelEngine engine{port, clock};
    PanelWidget widget{engine};
};

const Bytes kReadSwitches{0x85, 0x01, 0x00, 0x87};
constexpr QRgb kInk = qRgb(0, 0, 0);
constexpr QRgb kClear = qRgb(188, 225, 101);

struct KeyCase {
    QPoint point;
    std::uint8_t bits;
};

TEST_F(PanelWidgetTest, KeyAreasIncludeTheirBoundsAndNothingBeyond)
{
    const KeyCase cases[] = {
        {{74, 199}, 2},  {{110, 220}, 2}, {{73, 199}, 0},  {{111, 220}, 0}, {{174, 199}, 1}, {{210, 220}, 1},
        {{173, 210}, 0}, {{211, 210}, 0}, {{140, 202}, 4}, {{122, 217}, 4}, {{140, 218}, 0}, {{158, 219}, 8},
        {{140, 237}, 8}, {{140, 238}, 0}, {{140, 201}, 0}, {{121, 210}, 0}, {{159, 230}, 0}, {{80, 150}, 0},
    };
    for (const KeyCase& c : cases) {
        Press(c.point);
        EXPECT_EQ(engine.keys().bits(), c.bits) << "at " << c.point.x() << "," << c.point.y();
        Release(c.point);
        engine.keys().AfterReply();
    }
}

TEST_F(PanelWidgetTest, PressClearsReleasedAndAPressElsewhereKeepsTheLatchedKey)
{
    Press({90, 210});
    EXPECT_FALSE(engine.keys().released());
    Release({90, 210});
    EXPECT_TRUE(engine.keys().released());

    Press({80, 150}); // on the display
    EXPECT_EQ(engine.keys().bits(), 2);
    EXPECT_FALSE(engine.keys().released());

    Press({190, 210}); // a new press replaces the latched key
    EXPECT_EQ(engine.keys().bits(), 1);
}

TEST_F(PanelWidgetTest, RightAndMiddleButtonsPressAndReleaseNothing)
{
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        Press({90, 210}, button);
        EXPECT_EQ(engine.keys().bits(), 0);
    }
    Press({90, 210});
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        Release({90, 210}, button);
        EXPECT_FALSE(engine.keys().released());
    }
}

TEST_F(PanelWidgetTest, SecondPressOfADoubleClickIsNoKeyPress)
{
    Press({90, 210});
    Release({90, 210});
    engine.keys().AfterReply();

    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(90, 210), widget.mapToGlobal(QPointF(90, 210)),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &doubleClick);
    EXPECT_EQ(engine.keys().bits(), 0);
    EXPECT_TRUE(engine.keys().released());
}

TEST_F(PanelWidgetTest, ReleaseOutsideTheWidgetLeavesTheKeyHeld)
{
    Press({90, 210});
    Release({400, 400});
    EXPECT_FALSE(engine.keys().released());
    Release({90, 210});
    EXPECT_TRUE(engine.keys().released());
}

TEST_F(PanelWidgetTest, LatchedKeyTravelsInRepliesUntilReleasedAndAnswered)
{
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));

    Press({140, 230}); // down arrow, value 8
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x80, 0x87}));
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x80, 0x87})) << "still held";

    Release({140, 230});
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x80, 0x87})) << "reported once more";
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

TEST_F(PanelWidgetTest, ShortClickBetweenTwoRepliesIsStillReported)
{
    Press({190, 210});
    Release({190, 210});
    EXPECT_EQ(Exchange(kReadSwitches), (Bytes{0x05, 0x01, 0x10, 0x17}));
    EXPECT_EQ(engine.keys().bits(), 0);
}

TEST_F(PanelWidgetTest, TimerTicksTheLinkOnlyWhileTheLinkIsEnabled)
{
    engine.SetLinkEnabled(false);
    Press({90, 210});
    EXPECT_TRUE(Exchange(kReadSwitches).empty());
    engine.SetLinkEnabled(true);
    EXPECT_EQ(Exchange({}), (Bytes{0x05, 0x01, 0x20, 0x27}));
}

TEST_F(PanelWidgetTest, CompleteBlockIsAnsweredOnTheWakeWithoutWaitingForTheTick)
{
    widget.StartLink();
    // The test takes the reader's place, so the wake is posted here.
    engine.Stop();
    port.Feed(kReadSwitches);
    ReceiveAll();
    EXPECT_TRUE(port.Writes().empty());
    QCoreApplication::sendPostedEvents(&widget, PanelWidget::kBlockCompleteEvent);
    EXPECT_EQ(port.TakeWritten(), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

TEST_F(PanelWidgetTest, ReplyOnTickLeavesTheAnswerToTheTimer)
{
    engine.SetReplyOnTick(true);
    widget.StartLink();
    engine.Stop();
    port.Feed(kReadSwitches);
    ReceiveAll();
    QCoreApplication::sendPostedEvents(&widget, PanelWidget::kBlockCompleteEvent);
    EXPECT_TRUE(port.Writes().empty());
    EXPECT_EQ(Exchange({}), (Bytes{0x05, 0x01, 0x00, 0x07}));
}

// Every pixel of a outside r equals the same pixel of b.
bool SameOutside(const QImage& a, const QImage& b, const QRect& r)
{
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (!r.contains(x, y) && a.pixel(x, y) != b.pixel(x, y)) {
                return false;
            }
        }
    }
    return true;
}

TEST_F(PanelWidgetTest, RunLandsInTheDisplayWindowOfThePanelPicture)
{
    const QImage before = widget.panelImage().copy();
    ASSERT_EQ(before.size(), QSize(302, 305));

    // WRITE ARRAY: column 125 of page 7.
    Exchange(EncodeFrame(kWriteArray, Bytes{125, 7, 0x01, 0x80, 0xFF}));

    const QImage& panel = widget.panelImage();
    for (int j = 0; j < 8; ++j) {
        EXPECT_EQ(panel.pixel(80 + 125, 118 + 56 + j), j == 0 ? kInk : kClear) << j;
        EXPECT_EQ(panel.pixel(80 + 126, 118 + 56 + j), j == 7 ? kInk : kClear) << j;
        EXPECT_EQ(panel.pixel(80 + 127, 118 + 56 + j), kInk) << j;
    }
    EXPECT_EQ(panel.pixel(80 + 124, 118 + 63), kClear);
    EXPECT_TRUE(SameOutside(before, panel, QRect(80, 118, 128, 64)));
}

TEST_F(PanelWidgetTest, PictureShowsTheDisplayMemoryAfterEveryCommand)
{
    const Bytes frames[] = {
        EncodeFrame(kWriteArray, Bytes{0, 0, 0xFF, 0xFF, 0xFF}),
        EncodeFrame(kWriteArray, Bytes{1, 0, 0x01}), // over part of the last run
        EncodeFrame(kWriteString, Bytes{10, 11, 'P', 'a', 'n', 'e', 'l'}),
        EncodeFrame(kDrawAndRepeat, Bytes{0, 6, 31, 0x81, 0x7E}),
        EncodeFrame(kDrawIcon, Bytes{100, 2, 1}),
        EncodeFrame(kBlankArea, Bytes{0x08}),
        EncodeFrame(kSetupDisplay, Bytes{0x80}),
    };
    for (const Bytes& frame : frames) {
        const std::uint64_t runsBefore = engine.display().changeCount();
        Exchange(frame);
        const int code = frame[0] & kFunctionCodeMask;
        EXPECT_GT(engine.display().changeCount(), runsBefore) << "function code " << code;
        EXPECT_TRUE(PictureShowsTheMemory()) << "after function code " << code;
    }
}

// Counts the paint events a widget receives, and keeps the area of the last.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            area = static_cast<QPaintEvent*>(event)->rect();
        }
        return false;
    }

    int paints = 0;
    QRect area;
};

TEST_F(PanelWidgetTest, EveryRunIsPaintedAtOnceAndOnlyTheDisplayWindow)
{
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    PaintCounter counter;
    widget.installEventFilter(&counter);
    const std::uint64_t runsBefore = engine.display().changeCount();
    // A text two pages high: several runs in one command, painted before the
    // event loop runs again.
    Exchange(EncodeFrame(kWriteString, Bytes{0x80, 11, 'R', 'u', 'n', 's'}));
    const auto runs = static_cast<int>(engine.display().changeCount() - runsBefore);
    EXPECT_GT(runs, 1);
    EXPECT_EQ(counter.paints, runs);
    EXPECT_EQ(counter.area, PanelWidget::kDisplayRect);
}

TEST_F(PanelWidgetTest, PanelPictureHasTheDisplayWindowClearBeforeTheFirstRun)
{
    const QImage& panel = widget.panelImage();
    for (const QPoint corner : {QPoint(80, 118), QPoint(207, 118), QPoint(80, 181), QPoint(207, 181)}) {
        EXPECT_EQ(panel.pixel(corner), kClear);
    }
    EXPECT_NE(panel.pixel(79, 117), kClear);
    EXPECT_NE(panel.pixel(208, 182), kClear);
}

TEST_F(PanelWidgetTest, StartLinkDrawsTheStartUpScreenAndTheWindowShowsThePanel)
{
    widget.StartLink();
    EXPECT_TRUE(widget.IsTimerRunning());
    EXPECT_NE(PagesOf(engine.display()), Pages{}) << "start-up screen drawn";
    EXPECT_TRUE(PictureShowsTheMemory());
    EXPECT_EQ(widget.grab().toImage().convertToFormat(QImage::Format_RGB32), widget.panelImage());
}

} // namespace
} // namespace quillon::testing
