#include <map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalSpy>
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
        TickWidget();
        return port.TakeWritten();
    }

    void TickWidget()
    {
        QTimerEvent tick(12345);
        QCoreApplication::sendEvent(&widget, &tick);
    }
    void WakeWidget()
    {
        QEvent wake(PanelWidget::kBlockCompleteEvent);
        QCoreApplication::sendEvent(&widget, &wake);
    }

    // The key bits a reply carries in the high nibble of its status byte.
    static std::uint8_t KeyInReply(const Bytes& reply) { return reply.size() > 2 ? reply[2] >> 4 : 0xFF; }

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
    PanelHost host{port, clock};
    PanelEngine& engine = host.engine();
    PanelWidget widget{host};
};

const Bytes kReadSwitches{0x85, 0x01, 0x00, 0x87};
constexpr QRgb kInk = qRgb(0, 0, 0);
constexpr QRgb kClear = qRgb(188, 225, 101);

struct KeyCase {
    QPoint point;
    std::uint8_t bits;
};

TEST_F(PanelWidgetTest, KeyAreasIncludeTheirBoundsAndNothingBeyondAtEveryZoom)
{
    const KeyCase cases[] = {
        {{74, 199}, 2},  {{110, 220}, 2}, {{73, 199}, 0},  {{111, 220}, 0}, {{174, 199}, 1}, {{210, 220}, 1},
        {{173, 210}, 0}, {{211, 210}, 0}, {{140, 202}, 4}, {{122, 217}, 4}, {{140, 218}, 0}, {{158, 219}, 8},
        {{140, 237}, 8}, {{140, 238}, 0}, {{140, 201}, 0}, {{121, 210}, 0}, {{159, 230}, 0}, {{80, 150}, 0},
    };
    for (int zoom = PanelWidget::kMinZoom; zoom <= PanelWidget::kMaxZoom; ++zoom) {
        widget.SetZoom(zoom);
        ASSERT_EQ(widget.size(), PanelWidget::kPanelSize * zoom);
        for (const KeyCase& c : cases) {
            // Every screen pixel of the magnified picture pixel, corners first.
            for (const QPoint offset : {QPoint(0, 0), QPoint(zoom - 1, zoom - 1), QPoint(zoom - 1, 0),
                                        QPoint(0, zoom - 1), QPoint(zoom / 2, zoom / 2)}) {
                const QPoint point = c.point * zoom + offset;
                Press(point);
                EXPECT_EQ(engine.keys().bits(), c.bits) << "zoom " << zoom << " at " << point.x() << "," << point.y();
                Release(point);
                engine.keys().AfterReply();
            }
        }
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

TEST_F(PanelWidgetTest, AHeldKeyLooksPressedInsideItsOwnAreaOnlyAndComesUpWhenLetGo)
{
    struct HeldCase {
        const char* name;
        QRect area; // in picture pixels
        Qt::Key keyboardKey;
    };
    const HeldCase cases[] = {
        {"left", QRect(QPoint(74, 199), QPoint(110, 220)), Qt::Key_Left},
        {"right", QRect(QPoint(174, 199), QPoint(210, 220)), Qt::Key_Right},
        {"up", QRect(QPoint(122, 202), QPoint(158, 217)), Qt::Key_Up},
        {"down", QRect(QPoint(122, 219), QPoint(158, 237)), Qt::Key_Down},
    };
    for (const int zoom : {1, 3}) {
        widget.SetZoom(zoom);
        const QImage released = widget.grab().toImage();
        for (const HeldCase& c : cases) {
            const QRect shown(c.area.topLeft() * zoom, c.area.size() * zoom);
            const auto expectPressedLook = [&](const char* how) {
                const QImage held = widget.grab().toImage();
                int changed = 0;
                for (int y = 0; y < released.height(); ++y) {
                    for (int x = 0; x < released.width(); ++x) {
                        if (held.pixel(x, y) == released.pixel(x, y)) {
                            continue;
                        }
                        ++changed;
                        ASSERT_TRUE(shown.contains(x, y)) << c.name << " " << how << " at " << zoom << "x: " << x << ","
                                                          << y << " changed outside the key";
                    }
                }
                EXPECT_GT(changed, shown.width() * shown.height() / 2) << c.name << " " << how << " at " << zoom << "x";
            };
            const QPoint middle = shown.center();
            Press(middle);
            expectPressedLook("clicked");
            Release(middle);
            EXPECT_EQ(widget.grab().toImage(), released) << c.name << " let go at " << zoom << "x";

            QTest::keyPress(&widget, c.keyboardKey);
            expectPressedLook("from the keyboard");
            QTest::keyRelease(&widget, c.keyboardKey);
            EXPECT_EQ(widget.grab().toImage(), released) << c.name << " key up at " << zoom << "x";
        }
    }
    // A press beside the keys draws none of them pressed.
    const QImage released = widget.grab().toImage();
    Press(QPoint(20, 20) * widget.zoom());
    EXPECT_EQ(widget.grab().toImage(), released);
    Release(QPoint(20, 20) * widget.zoom());
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

// One step of a key script: a key (by its bits) goes down or up, or the
// device asks for the keys and the step expects the key in the reply.
struct KeyStep {
    enum Kind { Down, Up, Reply } kind;
    std::uint8_t value;
};

struct KeyScript {
    const char* name;
    std::vector<KeyStep> steps;
};

const std::map<std::uint8_t, std::pair<QPoint, Qt::Key>> kKeyInputs{
    {kKeyRight, {{190, 210}, Qt::Key_Right}},
    {kKeyLeft, {{90, 210}, Qt::Key_Left}},
    {kKeyUp, {{140, 210}, Qt::Key_Up}},
    {kKeyDown, {{140, 230}, Qt::Key_Down}},
};

TEST_F(PanelWidgetTest, KeyboardKeysFollowTheLatchExactlyAsClicksDo)
{
    using S = KeyStep;
    const KeyScript scripts[] = {
        {"hold",
         {{S::Down, kKeyDown},
          {S::Reply, kKeyDown},
          {S::Reply, kKeyDown},
          {S::Up, kKeyDown},
          {S::Reply, kKeyDown},
          {S::Reply, 0}}},
        {"short press between replies",
         {{S::Down, kKeyRight}, {S::Up, kKeyRight}, {S::Reply, kKeyRight}, {S::Reply, 0}}},
        {"replaced before the reply",
         {{S::Down, kKeyUp},
          {S::Up, kKeyUp},
          {S::Down, kKeyLeft},
          {S::Reply, kKeyLeft},
          {S::Reply, kKeyLeft},
          {S::Up, kKeyLeft},
          {S::Reply, kKeyLeft},
          {S::Reply, 0}}},
        {"replaced after the reply",
         {{S::Down, kKeyUp},
          {S::Reply, kKeyUp},
          {S::Up, kKeyUp},
          {S::Down, kKeyDown},
          {S::Reply, kKeyDown},
          {S::Up, kKeyDown},
          {S::Reply, kKeyDown},
          {S::Reply, 0}}},
    };
    for (const bool keyboard : {false, true}) {
        for (const KeyScript& script : scripts) {
            std::vector<std::uint8_t> heard;
            std::vector<std::uint8_t> expected;
            for (const KeyStep& step : script.steps) {
                if (step.kind == S::Reply) {
                    heard.push_back(KeyInReply(Exchange(kReadSwitches)));
                    expected.push_back(step.value);
                    continue;
                }
                const auto& [point, key] = kKeyInputs.at(step.value);
                if (step.kind == S::Down) {
                    keyboard ? QTest::keyPress(&widget, key) : Press(point);
                } else {
                    keyboard ? QTest::keyRelease(&widget, key) : Release(point);
                }
            }
            EXPECT_EQ(heard, expected) << script.name << (keyboard ? " on the keyboard" : " with the mouse");
        }
    }
}

// Sends a keyboard event the way the window system delivers a held key.
void SendKey(QWidget& widget, QEvent::Type type, Qt::Key key, bool autoRepeat,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent event(type, key, modifiers, QString(), autoRepeat);
    QCoreApplication::sendEvent(&widget, &event);
}

TEST_F(PanelWidgetTest, KeyboardRepeatsRollingKeysModifiersAndLostFocusKeepTheLatchRight)
{
    // A held key repeats press and release; the panel's key stays down.
    SendKey(widget, QEvent::KeyPress, Qt::Key_Up, false);
    for (int i = 0; i < 3; ++i) {
        SendKey(widget, QEvent::KeyRelease, Qt::Key_Up, true);
        SendKey(widget, QEvent::KeyPress, Qt::Key_Up, true);
        EXPECT_FALSE(engine.keys().released());
    }
    // Down goes down before Up is let go: Down replaces Up, and Up's release
    // lets nothing go.
    SendKey(widget, QEvent::KeyPress, Qt::Key_Down, false);
    SendKey(widget, QEvent::KeyRelease, Qt::Key_Up, false);
    EXPECT_EQ(KeyInReply(Exchange(kReadSwitches)), kKeyDown);
    EXPECT_EQ(KeyInReply(Exchange(kReadSwitches)), kKeyDown);
    SendKey(widget, QEvent::KeyRelease, Qt::Key_Down, false);
    EXPECT_EQ(KeyInReply(Exchange(kReadSwitches)), kKeyDown);
    EXPECT_EQ(KeyInReply(Exchange(kReadSwitches)), 0);

    // An arrow with Ctrl belongs to the menus; other keys press nothing.
    SendKey(widget, QEvent::KeyPress, Qt::Key_Left, false, Qt::ControlModifier);
    SendKey(widget, QEvent::KeyPress, Qt::Key_A, false);
    EXPECT_EQ(KeyInReply(Exchange(kReadSwitches)), 0);

    // A key held while the focus goes elsewhere is let go: its release will
    // never come here.
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&widget));
    widget.setFocus();
    SendKey(widget, QEvent::KeyPress, Qt::Key_Left, false);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(&widget, &focusOut);
    EXPECT_EQ(KeyInReply(Exchange(kReadSwitches)), kKeyLeft);
    EXPECT_EQ(KeyInReply(Exchange(kReadSwitches)), 0);
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

// Counts the paint events a widget receives, and keeps the area of the last
// and how many writes the port had seen at the first.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(const QueuePort& port) : port_(port) {}

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            if (paints++ == 0) {
                writesAtFirstPaint = port_.Writes().size();
            }
            area = static_cast<QPaintEvent*>(event)->rect();
        }
        return false;
    }

    int paints = 0;
    std::size_t writesAtFirstPaint = 0;
    QRect area;

private:
    const QueuePort& port_;
};

TEST_F(PanelWidgetTest, TheRunsOfABlockArePaintedOnceRightAfterItsReply)
{
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    const std::uint64_t runsBefore = engine.display().changeCount();
    const std::size_t writesBefore = port.Writes().size();
    // A text two pages high: several runs in one command, painted before the
    // event loop runs again.
    // On the tick, and on the reader's wake.
    for (const bool wake : {false, true}) {
        PaintCounter counter(port);
        widget.installEventFilter(&counter);
        port.Feed(EncodeFrame(kWriteString, Bytes{0x80, 11, 'R', 'u', 'n', 's'}));
        ReceiveAll();
        wake ? WakeWidget() : TickWidget();
        widget.removeEventFilter(&counter);
        EXPECT_EQ(counter.paints, 1);
        EXPECT_EQ(counter.area, PanelWidget::kDisplayRect);
        EXPECT_GT(counter.writesAtFirstPaint, writesBefore) << "the reply was written before the repaint";
    }
    EXPECT_GT(engine.display().changeCount() - runsBefore, 2u);
    EXPECT_TRUE(PictureShowsTheMemory());
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

TEST_F(PanelWidgetTest, ZoomedWindowShowsTheFrontDrawnAtItsSizeAndEachDisplayPixelAsASharpSquare)
{
    Exchange(EncodeFrame(kWriteString, Bytes{0, 0, 'Z', 'o', 'o', 'm'}));
    EXPECT_EQ(widget.grab().toImage().convertToFormat(QImage::Format_RGB32), widget.panelImage());
    for (int zoom = PanelWidget::kMinZoom + 1; zoom <= PanelWidget::kMaxZoom; ++zoom) {
        widget.SetZoom(zoom);
        const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shown.size(), PanelWidget::kPanelSize * zoom);
        const QImage blownUp =
            widget.panelImage().scaled(PanelWidget::kPanelSize * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        const QRect display(PanelWidget::kDisplayRect.topLeft() * zoom, PanelWidget::kDisplayRect.size() * zoom);
        EXPECT_EQ(shown.copy(display), blownUp.copy(display)) << "zoom " << zoom;
        // Beside the display the front is drawn anew at the zoom, so its
        // edges are finer than the 1x pixels: where a blown-up picture has
        // squares of one colour, many of its squares are not.
        int finer = 0;
        for (int y = 0; y + zoom <= shown.height(); y += zoom) {
            for (int x = 0; x + zoom <= shown.width(); x += zoom) {
                bool oneColour = true;
                for (int i = 0; i < zoom * zoom; ++i) {
                    oneColour = oneColour && shown.pixel(x + i % zoom, y + i / zoom) == shown.pixel(x, y);
                }
                finer += oneColour ? 0 : 1;
            }
        }
        EXPECT_GT(finer, 1000) << "zoom " << zoom;
    }
    widget.SetZoom(PanelWidget::kMaxZoom + 1);
    EXPECT_EQ(widget.zoom(), PanelWidget::kMaxZoom);
    widget.SetZoom(0);
    EXPECT_EQ(widget.zoom(), PanelWidget::kMinZoom);
}

TEST_F(PanelWidgetTest, HighlightMarksExactlyItsPixelsOnScreenAndLeavesTheDisplayAlone)
{
    Exchange(EncodeFrame(kWriteArray, Bytes{0, 0, 0xFF, 0x0F, 0xF0}));
    const Pages memory = PagesOf(engine.display());
    constexpr int kZoom = 3;
    widget.SetZoom(kZoom);
    const QImage plain = widget.grab().toImage();
    const QImage picture = widget.panelImage().copy();

    widget.SetHighlight(DisplayRect{1, 2, 4, 6});
    const QImage marked = widget.grab().toImage();
    // The pixels inside are all changed; beyond the outline round them
    // nothing is.
    const QRect inside((PanelWidget::kDisplayRect.topLeft() + QPoint(1, 2)) * kZoom, QSize(3, 4) * kZoom);
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            if (inside.contains(x, y)) {
                ASSERT_NE(marked.pixel(x, y), plain.pixel(x, y)) << x << "," << y;
            } else if (!inside.adjusted(-1, -1, 1, 1).contains(x, y)) {
                ASSERT_EQ(marked.pixel(x, y), plain.pixel(x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(PagesOf(engine.display()), memory);
    EXPECT_EQ(widget.panelImage(), picture);

    widget.SetHighlight(std::nullopt);
    EXPECT_EQ(widget.grab().toImage(), plain);
}

TEST_F(PanelWidgetTest, AMarkGoesWhenARunIsDrawnOverItsPixelsAndStaysBesideOne)
{
    QSignalSpy dropped(&widget, &PanelWidget::highlightDropped);
    struct Case {
        Bytes run; // column, page, bytes
        bool dropsTheMark;
    };
    // The mark covers columns 10 to 19 of page 2.
    const Case cases[] = {
        {{20, 2, 0xFF}, false},
        {{10, 1, 0xFF, 0xFF}, false},
        {{0, 2, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, true},
        {{19, 2, 0x00}, true},
    };
    for (const Case& c : cases) {
        widget.SetHighlight(DisplayRect{10, 16, 20, 24});
        const int before = static_cast<int>(dropped.count());
        Exchange(EncodeFrame(kWriteArray, c.run));
        EXPECT_EQ(static_cast<int>(dropped.count()) - before, c.dropsTheMark ? 1 : 0) << int(c.run[0]);
        const QImage now = widget.grab().toImage();
        const QImage expected = widget.panelImage().convertToFormat(now.format());
        EXPECT_EQ(now == expected, c.dropsTheMark) << "the screen shows the mark only while it stays";
    }
}

TEST_F(PanelWidgetTest, PointerOverTheDisplayReportsTheDisplayPixelOnceEachAtAnyZoom)
{
    std::vector<QPoint> heard;
    QObject::connect(&widget, &PanelWidget::displayPixelHovered, [&](int x, int y) { heard.emplace_back(x, y); });
    const auto move = [&](QPoint point) {
        QMouseEvent event(QEvent::MouseMove, point, widget.mapToGlobal(point), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&widget, &event);
    };
    widget.SetZoom(2);
    move({80 * 2, 118 * 2});          // display pixel (0, 0)
    move({80 * 2 + 1, 118 * 2 + 1});  // the same pixel again
    move({207 * 2 + 1, 181 * 2 + 1}); // (127, 63)
    move({208 * 2, 181 * 2});         // just beyond the display
    move({10, 10});
    widget.SetZoom(4);
    move({(80 + 5) * 4 + 3, (118 + 6) * 4});
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &leave);
    EXPECT_EQ(heard, (std::vector<QPoint>{{0, 0}, {127, 63}, {-1, -1}, {5, 6}, {-1, -1}}));
}

} // namespace
} // namespace quillon::testing
