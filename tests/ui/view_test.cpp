#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>

#include "tests/support/fakes.h"
#include "ui/corvane_view.h"

namespace quillon::testing {
namespace {

class ViewTest : public ::testing::Test {
protected:
    ViewTest() { state.linkEnabled = 1; }

    // One block from the device, one tick of the view's timer; what the
    // panel answered.
    std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& block)
    {
        port.Feed(block);
        while (view.link().ReceivePass() == ReceiveResult::ByteHandled) {
        }
        QTimerEvent tick(12345);
        QCoreApplication::sendEvent(&view, &tick);
        return port.TakeWritten();
    }

    void Press(QPoint point, Qt::MouseButton button = Qt::LeftButton) { QTest::mousePress(&view, button, {}, point); }
    void Release(QPoint point, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseRelease(&view, button, {}, point);
    }

    LinkState state;
    QueuePort port;
    ManualClock clock;
    CCorvaneView view{nullptr, state, port, clock};
};

const std::vector<std::uint8_t> kReadSwitches{0x85, 0x01, 0x00, 0x87};

struct KeyCase {
    QPoint point;
    std::uint8_t bits;
};

TEST_F(ViewTest, KeyAreasIncludeTheirBoundsAndNothingBeyond)
{
    const KeyCase cases[] = {
        {{74, 199}, 2},  {{110, 220}, 2}, {{73, 199}, 0},  {{111, 220}, 0}, {{174, 199}, 1}, {{210, 220}, 1},
        {{173, 210}, 0}, {{211, 210}, 0}, {{140, 202}, 4}, {{122, 217}, 4}, {{140, 218}, 0}, {{158, 219}, 8},
        {{140, 237}, 8}, {{140, 238}, 0}, {{140, 201}, 0}, {{121, 210}, 0}, {{159, 230}, 0}, {{80, 150}, 0},
    };
    for (const KeyCase& c : cases) {
        view.SetKeyBits(0);
        Press(c.point);
        EXPECT_EQ(view.GetKeyBits(), c.bits) << "at " << c.point.x() << "," << c.point.y();
        Release(c.point);
    }
}

TEST_F(ViewTest, PressClearsReleasedAndAPressElsewhereKeepsTheLatchedKey)
{
    Press({90, 210});
    EXPECT_FALSE(view.IsKeyReleased());
    Release({90, 210});
    EXPECT_TRUE(view.IsKeyReleased());

    Press({80, 150}); // on the display
    EXPECT_EQ(view.GetKeyBits(), 2);
    EXPECT_FALSE(view.IsKeyReleased());

    Press({190, 210}); // a new press replaces the latched key
    EXPECT_EQ(view.GetKeyBits(), 1);
}

TEST_F(ViewTest, RightAndMiddleButtonsPressAndReleaseNothing)
{
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        Press({90, 210}, button);
        EXPECT_EQ(view.GetKeyBits(), 0);
    }
    Press({90, 210});
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        Release({90, 210}, button);
        EXPECT_FALSE(view.IsKeyReleased());
    }
}

TEST_F(ViewTest, SecondPressOfADoubleClickIsNoKeyPress)
{
    Press({90, 210});
    Release({90, 210});
    view.SetKeyBits(0);

    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(90, 210), view.mapToGlobal(QPointF(90, 210)),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &doubleClick);
    EXPECT_EQ(view.GetKeyBits(), 0);
    EXPECT_TRUE(view.IsKeyReleased());
}

TEST_F(ViewTest, ReleaseOutsideTheViewLeavesTheKeyHeld)
{
    Press({90, 210});
    Release({400, 400});
    EXPECT_FALSE(view.IsKeyReleased());
    Release({90, 210});
    EXPECT_TRUE(view.IsKeyReleased());
}

TEST_F(ViewTest, LatchedKeyTravelsInRepliesUntilReleasedAndAnswered)
{
    EXPECT_EQ(Exchange(kReadSwitches), (std::vector<std::uint8_t>{0x05, 0x01, 0x00, 0x07}));

    Press({140, 230}); // down arrow, value 8
    EXPECT_EQ(Exchange(kReadSwitches), (std::vector<std::uint8_t>{0x05, 0x01, 0x80, 0x87}));
    EXPECT_EQ(Exchange(kReadSwitches), (std::vector<std::uint8_t>{0x05, 0x01, 0x80, 0x87})) << "still held";

    Release({140, 230});
    EXPECT_EQ(Exchange(kReadSwitches), (std::vector<std::uint8_t>{0x05, 0x01, 0x80, 0x87})) << "reported once more";
    EXPECT_EQ(Exchange(kReadSwitches), (std::vector<std::uint8_t>{0x05, 0x01, 0x00, 0x07}));
}

TEST_F(ViewTest, ShortClickBetweenTwoRepliesIsStillReported)
{
    Press({190, 210});
    Release({190, 210});
    EXPECT_EQ(Exchange(kReadSwitches), (std::vector<std::uint8_t>{0x05, 0x01, 0x10, 0x17}));
    EXPECT_EQ(view.GetKeyBits(), 0);
}

TEST_F(ViewTest, TimerTicksTheLinkOnlyWhileTheLinkIsEnabled)
{
    state.linkEnabled = 0;
    Press({90, 210});
    EXPECT_TRUE(Exchange(kReadSwitches).empty());
    state.linkEnabled = 1;
    EXPECT_EQ(Exchange({}), (std::vector<std::uint8_t>{0x05, 0x01, 0x20, 0x27}));
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

TEST_F(ViewTest, RunLandsInTheDisplayWindowOfThePanelPicture)
{
    view.LoadPanelImage();
    view.CreateDisplayImage();
    const QImage before = view.panelImage().copy();
    ASSERT_EQ(before.size(), QSize(302, 305));

    DrawRequest run;
    run.bytes[0] = 0x01;
    run.bytes[1] = 0x80;
    run.bytes[2] = 0xFF;
    run.startColumn = 125;
    run.topRow = 56;
    run.length = 3;
    view.DrawColumnRun(run);

    const QImage& panel = view.panelImage();
    constexpr QRgb kInk = qRgb(0, 0, 0);
    constexpr QRgb kClear = qRgb(188, 225, 101);
    for (int j = 0; j < 8; ++j) {
        EXPECT_EQ(panel.pixel(80 + 125, 118 + 56 + j), j == 0 ? kInk : kClear) << j;
        EXPECT_EQ(panel.pixel(80 + 126, 118 + 56 + j), j == 7 ? kInk : kClear) << j;
        EXPECT_EQ(panel.pixel(80 + 127, 118 + 56 + j), kInk) << j;
        EXPECT_EQ(view.displayImage().pixel(127, 56 + j), kInk);
    }
    EXPECT_EQ(panel.pixel(80 + 124, 118 + 63), kClear);
    EXPECT_TRUE(SameOutside(before, panel, QRect(80, 118, 128, 64)));
}

TEST_F(ViewTest, RunOverwritesAllEightPixelsOfEachColumn)
{
    view.LoadPanelImage();
    view.CreateDisplayImage();
    DrawRequest run;
    run.bytes[0] = 0xFF;
    run.length = 1;
    view.DrawColumnRun(run);
    run.bytes[0] = 0x01;
    view.DrawColumnRun(run);
    EXPECT_EQ(view.panelImage().pixel(80, 118), qRgb(0, 0, 0));
    for (int j = 1; j < 8; ++j) {
        EXPECT_EQ(view.panelImage().pixel(80, 118 + j), qRgb(188, 225, 101)) << j;
    }
}

TEST_F(ViewTest, EmptyRunStillCopiesTheDisplayIntoThePanel)
{
    view.LoadPanelImage();
    view.CreateDisplayImage();
    DrawRequest run;
    run.bytes[0] = 0xFF;
    run.startColumn = 10;
    run.length = 1;
    view.DrawColumnRun(run);
    view.LoadPanelImage(); // the panel picture afresh; the display keeps the run
    ASSERT_NE(view.panelImage().pixel(90, 118), qRgb(0, 0, 0));

    run.length = 0;
    view.DrawColumnRun(run);
    EXPECT_EQ(view.panelImage().pixel(90, 118), qRgb(0, 0, 0));
}

TEST_F(ViewTest, PanelPictureHasTheDisplayWindowClearBeforeTheFirstRun)
{
    view.LoadPanelImage();
    const QImage& panel = view.panelImage();
    for (const QPoint corner : {QPoint(80, 118), QPoint(207, 118), QPoint(80, 181), QPoint(207, 181)}) {
        EXPECT_EQ(panel.pixel(corner), qRgb(188, 225, 101));
    }
    EXPECT_NE(panel.pixel(79, 117), qRgb(188, 225, 101));
    EXPECT_NE(panel.pixel(208, 182), qRgb(188, 225, 101));
}

TEST_F(ViewTest, InitialUpdateDrawsTheStartUpScreenAndTheWindowShowsThePanel)
{
    view.OnInitialUpdate();
    EXPECT_TRUE(view.IsTimerRunning());
    const QImage blank = [] {
        QImage image(128, 64, QImage::Format_RGB32);
        image.fill(qRgb(188, 225, 101));
        return image;
    }();
    EXPECT_NE(view.displayImage(), blank) << "start-up screen drawn";
    EXPECT_EQ(view.panelImage().copy(80, 118, 128, 64), view.displayImage());
    EXPECT_EQ(view.grab().toImage().convertToFormat(QImage::Format_RGB32), view.panelImage());
}

} // namespace
} // namespace quillon::testing
