// `quillon --demo`: the demo device on the far end of the run's virtual port,
// driving the real window.
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QTest>

#include "host/line.h"
#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "tests/demo/panel_pictures.h"
#include "tests/ui/ui_fakes.h"
#include "ui/application.h"
#include "ui/panel_widget.h"

namespace quillon::testing {
namespace {

// Generous: the device draws its menu in a fraction of a second, but the
// machine may be busy.
constexpr int kDeadlineMs = 15000;
constexpr QPoint kDisplayInView = PanelWidget::kDisplayRect.topLeft();
// The lower half of the round middle key.
constexpr QPoint kDownKey{140, 228};

// Whether image shows exactly the pages, the display's top left at origin.
bool ShowsPicture(const QImage& image, QPoint origin, const Pages& pages)
{
    for (int page = 0; page < 8; ++page) {
        for (int column = 0; column < 128; ++column) {
            for (int bit = 0; bit < 8; ++bit) {
                const QPoint pixel = origin + QPoint(column, page * 8 + bit);
                if (!image.valid(pixel)) {
                    return false;
                }
                const bool ink = ((pages[page][column] >> bit) & 1) != 0;
                const QRgb expected = ink ? PanelWidget::kDisplayInk : PanelWidget::kDisplayBackground;
                if ((image.pixel(pixel) & RGB_MASK) != (expected & RGB_MASK)) {
                    return false;
                }
            }
        }
    }
    return true;
}

// The demo's line as the desktop makes it: a virtual port that the window
// opens, with the device on its far end.
LineDescription DemoLine()
{
    LineDescription described;
    described.kind = LineDescription::Kind::Demo;
    described.demoOnVirtualPort = true;
    described.frontEndOpensSerial = true;
    return described;
}

TEST(DemoModeTest, TheWindowShowsTheDemosMenuAndFollowsItsKeys)
{
    SettingsSandbox settings;
    ManualClock clock;
    RecordingMessages messages;
    Line line(clock);
    ASSERT_EQ(line.Open(DemoLine(), {}), "");
    SerialPortControl portControl(line.serial(), line.virtualPort());
    PanelHost host(line.panelEnd(), clock);
    PanelEngine& engine = host.engine();
    auto* application = static_cast<Application*>(QCoreApplication::instance());
    const PortTarget target = PortTarget::Virtual(QString::fromStdString(line.virtualPort()->DevicePath()));
    const auto window = application->ShowMainWindow(WindowContext{host, portControl, messages, target, {}});
    ASSERT_EQ(line.StartDemo(), "");
    EXPECT_TRUE(line.demo()->IsRunning());

    const auto shows = [&](int menuIndex) { return PagesOf(engine.display()) == PictureOf(MenuAt(menuIndex)); };
    EXPECT_TRUE(QTest::qWaitFor([&] { return shows(0); }, kDeadlineMs));
    QTest::mouseClick(window->panel(), Qt::LeftButton, {}, kDownKey);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shows(1); }, kDeadlineMs));
    EXPECT_TRUE(ShowsPicture(window->panel()->panelImage(), kDisplayInView, PictureOf(MenuAt(1))));

    const demo::DemoStatus status = line.demo()->Status();
    EXPECT_EQ(status.errorReplies, 0u);
    EXPECT_EQ(status.keyPresses, 1u);
    EXPECT_TRUE(messages.shown.empty());
    line.StopDemo();
    EXPECT_FALSE(line.demo()->IsRunning());
}

TEST(DemoModeTest, ADeviceEndLockedBySomeoneElseIsReportedWithTheReason)
{
    ManualClock clock;
    Line line(clock);
    ASSERT_EQ(line.Open(DemoLine(), {}), "");
    const int holder = open(line.virtualPort()->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    const std::string error = line.StartDemo();
    EXPECT_FALSE(line.demo()->IsRunning());
    EXPECT_TRUE(error.starts_with("the demo device cannot use " + line.virtualPort()->DevicePath() + " (set-up step 1"))
        << error;
    EXPECT_TRUE(error.ends_with("): " + std::string(std::strerror(EWOULDBLOCK)))) << error;
    close(holder);
}

TEST(DemoModeTest, ADemoScreenshotRunPicturesTheMenuSaysWhereAndEnds)
{
    // As fast as the line goes, and paced as the cable is.
    for (const QStringList& pacing :
         {QStringList{}, QStringList{QStringLiteral("--line-rate"), QStringLiteral("9600")}}) {
        SCOPED_TRACE(pacing.join(QLatin1Char(' ')).toStdString());
        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        const QString shot = dir.filePath(QStringLiteral("demo.png"));
        // No extra delay: the run still waits for the device's first screen.
        const ProgramRun run =
            RunProgram(QStringList{"--demo", "--screenshot", shot, "--screenshot-after", "0"} + pacing, environment);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral("quillon: screenshot saved to %1\n").arg(shot)))
            << run.out.toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("has not drawn"))) << run.err.toStdString();

        // The window is the menu bar above the panel.
        const QImage picture(shot);
        ASSERT_EQ(picture.width(), PanelWidget::kPanelSize.width());
        const int menuBarHeight = picture.height() - PanelWidget::kPanelSize.height();
        ASSERT_GT(menuBarHeight, 0);
        EXPECT_TRUE(ShowsPicture(picture, kDisplayInView + QPoint(0, menuBarHeight), PictureOf(MenuAt(0))));
    }
}

} // namespace
} // namespace quillon::testing
