#include <algorithm>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "tests/ui/ui_fakes.h"
#include "ui/about_dialog.h"
#include "ui/application.h"
#include "ui/panel_widget.h"
#include "ui/send_packet_dialog.h"

namespace quillon::testing {
namespace {

const QString kUnableToRead = QStringLiteral("Unable to read settings!");
const QString kUnableToSave = QStringLiteral("Unable to save settings!");

QMenu* OptionsMenu(MainWindow& window)
{
    return window.menuBar()->actions().at(0)->menu();
}

// The View menu's action (or a submenu's) with that text.
QAction* ViewAction(MainWindow& window, const char* text)
{
    QMenu* view = window.menuBar()->actions().at(1)->menu();
    for (QAction* action : view->findChildren<QAction*>()) {
        if (action->text() == QString::fromUtf8(text)) {
            return action;
        }
    }
    ADD_FAILURE() << "no View action " << text;
    return view->menuAction();
}

// Opens and closes the Options menu, which refreshes its check marks.
std::pair<bool, bool> MenuChecks(MainWindow& window)
{
    QMenu* options = OptionsMenu(window);
    options->popup(QPoint(0, 0));
    options->hide();
    const QList<QAction*> actions = options->actions();
    return {actions.at(1)->isChecked(), actions.at(3)->isChecked()};
}

// Runs `command` and returns the class name of the modal dialog it opened,
// closing that dialog.
QString ModalDialogOpenedBy(const std::function<void()>& command)
{
    QString opened;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            opened = QString::fromLatin1(modal->metaObject()->className());
            static_cast<QDialog*>(modal)->reject();
        }
    });
    watcher.start(0);
    command();
    return opened;
}

using MainWindowTest = WindowTest;

// The device's SET CONTRAST AND REPLY MODE frame choosing the framed reply.
void DeviceChoosesFramedReplies(PanelRig& rig)
{
    rig.queue.Feed(EncodeFrame(kSetContrastAndReplyMode, Bytes{0, 1, 0}));
    while (rig.engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    rig.engine.Tick();
}

TEST_F(MainWindowTest, MenuBarHoldsOptionsViewAndAbout)
{
    auto window = MakeWindow();
    const QList<QAction*> bar = window->menuBar()->actions();
    ASSERT_EQ(bar.size(), 3);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("&Options"));
    ASSERT_NE(bar[0]->menu(), nullptr);
    EXPECT_EQ(bar[1]->text(), QStringLiteral("&View"));
    ASSERT_NE(bar[1]->menu(), nullptr);
    EXPECT_EQ(bar[2]->text(), QStringLiteral("About Quillon..."));
    EXPECT_EQ(bar[2]->menu(), nullptr);

    const QList<QAction*> options = bar[0]->menu()->actions();
    ASSERT_EQ(options.size(), 4);
    EXPECT_EQ(options[0]->text(), QStringLiteral("Comms Port..."));
    EXPECT_EQ(options[1]->text(), QStringLiteral("Synch. Required"));
    EXPECT_TRUE(options[2]->isSeparator());
    EXPECT_EQ(options[3]->text(), QStringLiteral("Save Settings"));

    const std::pair<QAction*, int> commands[] = {
        {options[0], 32792}, {options[1], 32808}, {options[3], 32810}, {bar[2], 32800}};
    for (const auto& [action, id] : commands) {
        EXPECT_EQ(action->data().toInt(), id) << action->text().toStdString();
        EXPECT_TRUE(action->shortcut().isEmpty());
    }

    QSignalSpy monitor(window.get(), &MainWindow::protocolMonitorRequested);
    ViewAction(*window, "&Protocol Monitor")->trigger();
    EXPECT_EQ(monitor.count(), 1);
}

TEST_F(MainWindowTest, ZoomShortcutsStepThroughTheZoomsThatFitTheScreenAndTheWindowFollows)
{
    auto window = MakeWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // The arrow keys reach the panel without a click first.
    EXPECT_EQ(QApplication::focusWidget(), window->panel());
    const QSize frameAtOne = window->size();
    const auto zoomAfter = [&](QKeySequence keys) {
        QTest::keySequence(window.get(), keys);
        return window->panel()->zoom();
    };
    const QKeySequence in(Qt::CTRL | Qt::Key_Plus);
    const QKeySequence out(Qt::CTRL | Qt::Key_Minus);
    // The tests' screen is 1280 x 1024: at 4x the window would be 1220
    // pixels tall.
    EXPECT_EQ(window->LargestZoomThatFits(), 3);
    EXPECT_EQ(zoomAfter(in), 2);
    EXPECT_EQ(zoomAfter(QKeySequence(Qt::CTRL | Qt::Key_Equal)), 3);
    EXPECT_EQ(zoomAfter(in), 3);
    window->layout()->activate();
    EXPECT_EQ(window->size(), frameAtOne + PanelWidget::kPanelSize * 2);
    EXPECT_LE(window->frameGeometry().bottom(), window->screen()->availableGeometry().bottom());
    EXPECT_TRUE(ViewAction(*window, "&3x")->isChecked());
    EXPECT_FALSE(ViewAction(*window, "&4x")->isEnabled());
    window->SetZoom(4);
    EXPECT_EQ(window->panel()->zoom(), 3);
    EXPECT_EQ(zoomAfter(out), 2);
    EXPECT_EQ(zoomAfter(QKeySequence(Qt::CTRL | Qt::Key_0)), 1);
    EXPECT_EQ(zoomAfter(out), 1);
    window->layout()->activate();
    EXPECT_EQ(window->size(), frameAtOne);
    window->close();
}

TEST_F(MainWindowTest, CopiedDisplayIsTheDisplayMemoryInTheThemesTwoColours)
{
    auto window = MakeWindow();
    rig.queue.Feed(EncodeFrame(kWriteString, Bytes{0x80, 3, 'C', 'o', 'p', 'y'}));
    while (rig.engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    rig.engine.Tick();
    window->SetZoom(3);
    for (const DisplayTheme& theme : kDisplayThemes) {
        ViewAction(*window, theme.name)->trigger();
        for (const auto& [shortcut, scale] : {std::pair{"&Copy Display", 3}, std::pair{"Copy Display at &1:1", 1}}) {
            QGuiApplication::clipboard()->clear();
            ViewAction(*window, shortcut)->trigger();
            const QImage copy = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
            ASSERT_EQ(copy.size(), QSize(kDisplayWidth, kDisplayHeight) * scale) << theme.key << " " << shortcut;
            int mismatches = 0;
            for (int y = 0; y < copy.height(); ++y) {
                for (int x = 0; x < copy.width(); ++x) {
                    const bool ink = engine.display().Pixel(x / scale, y / scale);
                    mismatches += copy.pixel(x, y) != (ink ? theme.ink : theme.background) ? 1 : 0;
                }
            }
            EXPECT_EQ(mismatches, 0) << theme.key << " " << shortcut;
        }
    }

    // Saved, the display is the same picture as copied at the zoom.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("display.png"));
    ASSERT_TRUE(window->SaveDisplay(path));
    ViewAction(*window, "&Copy Display")->trigger();
    EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB32),
              QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32));
    EXPECT_FALSE(window->SaveDisplay(dir.filePath(QStringLiteral("missing/display.png"))));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].second, QStringLiteral("Unable to save %1").arg(dir.filePath("missing/display.png")));
}

TEST_F(MainWindowTest, WindowIsFixedSizeNotMaximisableAndShowsTheWholePanel)
{
    auto window = MakeWindow();
    window->layout()->activate();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillon"));
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->panel()->size(), QSize(302, 305));
    EXPECT_EQ(window->centralWidget(), window->panel());
    EXPECT_EQ(&window->panel()->engine(), &engine);
}

TEST_F(MainWindowTest, CheckMarksFollowTheStateWhenTheMenuOpens)
{
    auto window = MakeWindow();
    EXPECT_EQ(MenuChecks(*window), std::make_pair(false, false));

    OptionsMenu(*window)->actions().at(1)->trigger();
    EXPECT_TRUE(engine.synchRequired());
    EXPECT_EQ(engine.replyMode(), 0xFFFF);
    EXPECT_EQ(MenuChecks(*window), std::make_pair(true, false));

    OptionsMenu(*window)->actions().at(3)->trigger();
    EXPECT_EQ(window->GetSaveSettings(), 1);
    EXPECT_EQ(MenuChecks(*window), std::make_pair(true, true));

    // Changed behind the menu's back: the next opening shows it.
    engine.SetSynchRequired(false);
    EXPECT_EQ(MenuChecks(*window), std::make_pair(false, true));
}

TEST_F(MainWindowTest, SynchToggleTwiceRestoresTheModeWhateverTheDeviceDidToReplyMode)
{
    auto window = MakeWindow();
    window->OnCommand(MainWindow::kSynchRequiredCommand);
    DeviceChoosesFramedReplies(rig);
    ASSERT_EQ(engine.replyMode(), 1);
    window->OnCommand(MainWindow::kSynchRequiredCommand);
    EXPECT_FALSE(engine.synchRequired());
    EXPECT_EQ(engine.replyMode(), 1);
    window->OnCommand(MainWindow::kSynchRequiredCommand);
    EXPECT_TRUE(engine.synchRequired());
    EXPECT_EQ(engine.replyMode(), 0xFFFF);
}

TEST_F(MainWindowTest, EachCommandOpensItsDialogAndUnknownOnesAreRefused)
{
    auto window = MakeWindow();
    EXPECT_EQ(ModalDialogOpenedBy([&] { window->OnCommand(32806); }), QStringLiteral("quillon::SendPacketDialog"));
    EXPECT_EQ(ModalDialogOpenedBy([&] { window->OnCommand(32792); }), QStringLiteral("quillon::CommsPortDialog"));
    EXPECT_EQ(ModalDialogOpenedBy([&] { window->menuBar()->actions().at(2)->trigger(); }),
              QStringLiteral("quillon::AboutDialog"));
    EXPECT_FALSE(window->OnCommand(32807));
    EXPECT_FALSE(MainWindow::IsCommand(0));
    EXPECT_TRUE(MainWindow::IsCommand(32806));
}

TEST_F(MainWindowTest, AboutBoxShowsPictureVersionAndOk)
{
    AboutDialog about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Quillon"));
    QStringList texts;
    QSize pictureSize;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        texts << label->text();
        if (!label->pixmap().isNull()) {
            pictureSize = label->pixmap().size();
        }
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("Quillon Version 1.2.1.1")));
    EXPECT_EQ(pictureSize, QSize(85, 32));
    ExpectTextsFit(about);
}

TEST_F(MainWindowTest, StartUpOpensTheStoredPortAndReportsAFailureWithoutAStepNumber)
{
    port.failStep = 1;
    auto window = MakeWindow();
    ASSERT_EQ(port.opened.size(), 1u);
    EXPECT_EQ(port.opened[0], PortTarget::Com(1));
    EXPECT_TRUE(port.linkEnabledAtOpen[0]);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, MessageIcon::Error);
    EXPECT_EQ(messages.shown[0].second,
              QStringLiteral("Error Initialising COM Port1\r\nCheck correct COM port has been selected"));
}

TEST_F(MainWindowTest, PortGivenForThisRunIsOpenedButNeverStored)
{
    settings.Write({{"Save Settings", 1}, {"COM", 4}, {"Synch Required", 0}});
    auto window = MakeWindow(PortTarget::Device(QStringLiteral("/dev/ttyUSB3")));
    ASSERT_EQ(port.opened.size(), 1u);
    EXPECT_EQ(port.opened[0], PortTarget::Device(QStringLiteral("/dev/ttyUSB3")));
    window->close();
    EXPECT_EQ(settings.Value("COM").toInt(), 4);
    EXPECT_FALSE(settings.Value("Device").isValid());
}

TEST_F(MainWindowTest, FirstStartWithoutSettingsUsesDefaultsSilentlyAndCreatesThemOnClose)
{
    ASSERT_FALSE(settings.FileExists());
    auto window = MakeWindow();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(window->GetComPort(), 1);
    EXPECT_EQ(MenuChecks(*window), std::make_pair(false, false));
    EXPECT_FALSE(window->ReadSettings());

    EXPECT_TRUE(window->close());
    ASSERT_TRUE(settings.FileExists());
    EXPECT_EQ(settings.Value("COM").toInt(), 1);
    EXPECT_EQ(settings.Value("Synch Required").toInt(), 0);
    EXPECT_EQ(settings.Value("Save Settings").toInt(), 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MainWindowTest, WithSaveSettingsOffValuesAreWrittenButTheNextStartUsesDefaults)
{
    {
        auto window = MakeWindow();
        window->SetComPort(5);
        window->OnCommand(MainWindow::kSynchRequiredCommand);
        window->close();
    }
    EXPECT_EQ(settings.Value("COM").toInt(), 5);
    EXPECT_EQ(settings.Value("Synch Required").toInt(), 1);
    EXPECT_EQ(settings.Value("Save Settings").toInt(), 0);

    PanelRig fresh;
    auto next = std::make_unique<MainWindow>(fresh.Context(messages));
    EXPECT_EQ(next->GetComPort(), 1);
    EXPECT_EQ(fresh.port.opened.at(0), PortTarget::Com(1));
    EXPECT_FALSE(fresh.engine.synchRequired());
    EXPECT_EQ(fresh.engine.replyMode(), 1);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MainWindowTest, WithSaveSettingsOnTheNextStartRestoresPortModeAndOption)
{
    {
        auto window = MakeWindow();
        window->SetComPort(12);
        window->OnCommand(MainWindow::kSynchRequiredCommand);
        window->OnCommand(MainWindow::kSaveSettingsCommand);
        window->close();
    }
    PanelRig fresh;
    MainWindow next(fresh.Context(messages));
    EXPECT_EQ(next.GetComPort(), 12);
    EXPECT_EQ(fresh.port.opened.at(0), PortTarget::Com(12));
    EXPECT_TRUE(fresh.engine.synchRequired());
    EXPECT_EQ(fresh.engine.replyMode(), 0xFFFF);
    EXPECT_EQ(MenuChecks(next), std::make_pair(true, true));
    EXPECT_TRUE(messages.shown.empty());
}

struct ReadCase {
    const char* name;
    std::vector<std::pair<QString, QVariant>> stored;
    int comPort;
    int saveSettings;
    bool synchRequired;
    bool message;
};

TEST_F(MainWindowTest, ReadRulesForMissingAndBrokenValues)
{
    const ReadCase cases[] = {
        {"save missing", {{"COM", 7}, {"Synch Required", 1}}, 1, 0, false, true},
        {"save not a number", {{"Save Settings", "yes"}, {"COM", 7}}, 1, 0, false, true},
        {"save off", {{"Save Settings", 0}, {"COM", 7}, {"Synch Required", 1}}, 1, 0, false, false},
        {"synch missing", {{"Save Settings", 1}, {"COM", 7}}, 7, 1, true, true},
        {"com missing", {{"Save Settings", 1}, {"Synch Required", 0}}, 1, 1, false, false},
        {"com beyond the list", {{"Save Settings", 1}, {"COM", 300}, {"Synch Required", 0}}, 300, 1, false, false},
        {"com zero", {{"Save Settings", 1}, {"COM", 0}, {"Synch Required", 0}}, 0, 1, false, false},
        {"com negative", {{"Save Settings", 1}, {"COM", -3}, {"Synch Required", 0}}, -3, 1, false, false},
        {"com lowest",
         {{"Save Settings", 1}, {"COM", "-2147483648"}, {"Synch Required", 0}},
         -2147483647 - 1,
         1,
         false,
         false},
        {"com wraps to lowest",
         {{"Save Settings", 1}, {"COM", "2147483648"}, {"Synch Required", 0}},
         -2147483647 - 1,
         1,
         false,
         false},
        {"com not a number", {{"Save Settings", 1}, {"COM", "seven"}, {"Synch Required", 0}}, 1, 1, false, false},
        {"com beyond 32 bits",
         {{"Save Settings", 1}, {"COM", "4294967296"}, {"Synch Required", 0}},
         1,
         1,
         false,
         false},
        {"com highest",
         {{"Save Settings", 1}, {"COM", "2147483647"}, {"Synch Required", 0}},
         2147483647,
         1,
         false,
         false},
        {"com negative, synch last", {{"Save Settings", 1}, {"COM", "-5"}}, -5, 1, true, true},
        {"save any nonzero", {{"Save Settings", 5}, {"COM", 2}, {"Synch Required", 9}}, 2, 5, true, false},
        // The View menu's settings alone are a first start; beside the
        // three, they change none of the rules above.
        {"view only", {{"View/Zoom", 2}, {"View/Theme", "amber"}}, 1, 0, false, false},
        {"view, save missing", {{"View/Zoom", 2}, {"COM", 7}, {"Synch Required", 1}}, 1, 0, false, true},
        {"view, synch missing", {{"View/Zoom", 2}, {"Save Settings", 1}, {"COM", 7}}, 7, 1, true, true},
        {"view, com alone", {{"View/Zoom", 2}, {"COM", 7}}, 1, 0, false, true},
        {"view, all three",
         {{"View/Zoom", 2}, {"Save Settings", 1}, {"COM", 7}, {"Synch Required", 0}},
         7,
         1,
         false,
         false},
    };
    for (const ReadCase& c : cases) {
        settings.Write(c.stored);
        PanelRig fresh;
        RecordingMessages freshMessages;
        MainWindow window(fresh.Context(freshMessages));
        EXPECT_EQ(window.GetComPort(), c.comPort) << c.name;
        EXPECT_EQ(fresh.port.opened.at(0), PortTarget::Com(c.comPort)) << c.name;
        EXPECT_EQ(window.GetSaveSettings(), c.saveSettings) << c.name;
        EXPECT_EQ(fresh.engine.synchRequired(), c.synchRequired) << c.name;
        EXPECT_EQ(fresh.engine.replyMode() == 0xFFFF, c.synchRequired) << c.name;
        ASSERT_EQ(freshMessages.shown.size(), c.message ? 1u : 0u) << c.name;
        if (c.message) {
            EXPECT_EQ(freshMessages.shown[0].first, MessageIcon::Exclamation) << c.name;
            EXPECT_EQ(freshMessages.shown[0].second, kUnableToRead) << c.name;
        }
    }
}

TEST_F(MainWindowTest, UnwritableLocationIsReportedAndTheWindowStillCloses)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "the registry key of the user's settings cannot be made unwritable here";
#endif
    auto window = MakeWindow();
    settings.MakeUnwritable();
    EXPECT_TRUE(window->close());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, MessageIcon::Exclamation);
    EXPECT_EQ(messages.shown[0].second, kUnableToSave);
}

// The [General] section of a settings file, byte for byte.
QByteArray GeneralSection(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray text = file.readAll();
    const qsizetype start = text.indexOf("[General]");
    const qsizetype next = text.indexOf("\n[", start + 1);
    return text.mid(start, next < 0 ? -1 : next - start);
}

TEST_F(MainWindowTest, ViewSettingsComeBackAndLeaveThePortAndModeKeysByteForByte)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "compares the settings file byte for byte; Windows keeps registry values";
#endif
    settings.Write({{"Save Settings", 1}, {"COM", 4}, {"Synch Required", 1}});
    const QByteArray general = GeneralSection(settings.FilePath());
    ASSERT_TRUE(general.contains("COM=4"));
    {
        auto* application = static_cast<Application*>(QCoreApplication::instance());
        const auto window = application->ShowMainWindow(rig.Context(messages));
        window->SetZoom(3);
        window->SetTheme(QStringLiteral("amber"));
        window->move(40, 30);
        window->close();
    }
    EXPECT_EQ(GeneralSection(settings.FilePath()), general);

    PanelRig fresh;
    auto* application = static_cast<Application*>(QCoreApplication::instance());
    const auto next = application->ShowMainWindow(fresh.Context(messages));
    EXPECT_EQ(next->panel()->zoom(), 3);
    EXPECT_STREQ(next->panel()->theme().key, "amber");
    EXPECT_EQ(next->pos(), QPoint(40, 30));
    EXPECT_TRUE(fresh.engine.synchRequired());
    next->close();
    EXPECT_EQ(GeneralSection(settings.FilePath()), general);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MainWindowTest, AClosingKeepsEveryLineOfTheFileItDidNotWrite)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "reads the settings file line by line; Windows keeps registry values";
#endif
    struct KeepCase {
        const char* name;
        QByteArray stored;
        // Lines the file holds after a close, besides the program's own.
        std::vector<QByteArray> kept;
    };
    const KeepCase cases[] = {
        {"a line of its own",
         "[General]\nSave%20Settings=1\nCOM=3\nSynch%20Required=0\nDevice=/dev/ttyUSB0\nNote=bench 2\n",
         {"Device=/dev/ttyUSB0", "Note=bench 2"}},
        {"a line that fails to read",
         "[General]\nSave%20Settings=1\nCOM=3\nSynch%20Required=0\nDevice=/dev/ttyUSB0\nthis is not a setting\n",
         {"Device=/dev/ttyUSB0", "this is not a setting"}},
        {"a broken number and a comment",
         "; written by hand\n[General]\nSave%20Settings=yes\nCOM=3\nDevice=/dev/ttyACM1\n",
         {"; written by hand", "Device=/dev/ttyACM1"}},
        {"a group of its own",
         "[General]\nSave%20Settings=1\nCOM=2\nSynch%20Required=1\n\n[Bench]\nRig=east\n",
         {"[Bench]", "Rig=east", "COM=2"}},
    };
    for (const KeepCase& c : cases) {
        {
            QDir().mkpath(QFileInfo(settings.FilePath()).path());
            QFile file(settings.FilePath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(c.stored);
        }
        PanelRig fresh;
        RecordingMessages freshMessages;
        {
            MainWindow window(fresh.Context(freshMessages));
            window.close();
        }
        QFile file(settings.FilePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : c.kept) {
            EXPECT_TRUE(lines.contains(line)) << c.name << ": lost " << line.toStdString();
        }
        // The three are written as always, each once.
        for (const QByteArray key : {"COM=", "Synch%20Required=", "Save%20Settings="}) {
            const auto count =
                std::count_if(lines.begin(), lines.end(), [&](const QByteArray& line) { return line.startsWith(key); });
            EXPECT_EQ(count, 1) << c.name << ": " << key.toStdString();
        }
    }
}

TEST_F(MainWindowTest, TheTitleSaysWhenTheLineHasEnded)
{
    auto window = MakeWindow();
    const auto tick = [&] {
        QTimerEvent event(1);
        QCoreApplication::sendEvent(window->panel(), &event);
        return window->windowTitle();
    };
    EXPECT_EQ(tick(), QStringLiteral("Quillon"));
    rig.queue.ended = true;
    EXPECT_EQ(tick(), QStringLiteral("Quillon - replay ended"));
    rig.queue.ended = false;
    EXPECT_EQ(tick(), QStringLiteral("Quillon")) << "a line that goes on took its place";
}

TEST_F(MainWindowTest, ShowMainWindowPlacesTheWindowAtTheTopLeftAndStartsTheLink)
{
    auto* application = static_cast<Application*>(QCoreApplication::instance());
    const auto window = application->ShowMainWindow(rig.Context(messages));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pos(), QPoint(0, 0));
    EXPECT_TRUE(window->panel()->IsTimerRunning());
    EXPECT_TRUE(engine.linkEnabled());
    EXPECT_TRUE(engine.receiver().running());
    window->close();
}

TEST_F(MainWindowTest, SendPacketFrameReachesTheDisplayWhileTheReaderRuns)
{
    auto* application = static_cast<Application*>(QCoreApplication::instance());
    const auto window = application->ShowMainWindow(rig.Context(messages));
    const std::uint64_t runsBefore = engine.display().changeCount();
    SendPacketDialog dialog(engine, window->panel());
    dialog.OnSend(); // function code 1 with one data byte: rejected, no run
    static_cast<QComboBox*>(dialog.GetDlgItem(SendPacketDialog::kFunctionCodeListId))->setCurrentIndex(3);
    dialog.OnSend(); // BLANK AREA of page 0
    // The reader takes each frame between the device's blocks; the timer
    // answers them.
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.queue.Writes().size() == 2; }, 5000));
    EXPECT_EQ(rig.queue.Writes(), (std::vector<Bytes>{{0x05, 0x01, 0x08, 0x0F}, {0x05, 0x01, 0x00, 0x07}}));
    EXPECT_GT(engine.display().changeCount(), runsBefore);
    window->close();
}

} // namespace
} // namespace quillon::testing
