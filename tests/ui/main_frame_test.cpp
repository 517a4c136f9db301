#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "tests/ui/ui_fakes.h"
#include "ui/about_dlg.h"
#include "ui/corvane_app.h"
#include "ui/corvane_view.h"
#include "ui/send_packet_dlg.h"

namespace quillon::testing {
namespace {

const QString kUnableToRead = QStringLiteral("Unable to read settings!");
const QString kUnableToSave = QStringLiteral("Unable to save settings!");

QMenu* OptionsMenu(CMainFrame& frame)
{
    return frame.menuBar()->actions().at(0)->menu();
}

// Opens and closes the Options menu, which refreshes its check marks.
std::pair<bool, bool> MenuChecks(CMainFrame& frame)
{
    QMenu* options = OptionsMenu(frame);
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

using MainFrameTest = FrameTest;

TEST_F(MainFrameTest, MenuBarHoldsExactlyOptionsAndAbout)
{
    auto frame = MakeFrame();
    const QList<QAction*> bar = frame->menuBar()->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("&Options"));
    ASSERT_NE(bar[0]->menu(), nullptr);
    EXPECT_EQ(bar[1]->text(), QStringLiteral("About Quillon..."));
    EXPECT_EQ(bar[1]->menu(), nullptr);

    const QList<QAction*> options = bar[0]->menu()->actions();
    ASSERT_EQ(options.size(), 4);
    EXPECT_EQ(options[0]->text(), QStringLiteral("Comms Port..."));
    EXPECT_EQ(options[1]->text(), QStringLiteral("Synch. Required"));
    EXPECT_TRUE(options[2]->isSeparator());
    EXPECT_EQ(options[3]->text(), QStringLiteral("Save Settings"));

    const std::pair<QAction*, int> commands[] = {
        {options[0], 32792}, {options[1], 32808}, {options[3], 32810}, {bar[1], 32800}};
    for (const auto& [action, id] : commands) {
        EXPECT_EQ(action->data().toInt(), id) << action->text().toStdString();
        EXPECT_TRUE(action->shortcut().isEmpty());
    }
}

TEST_F(MainFrameTest, WindowIsFixedSizeNotMaximisableAndShowsTheWholePanel)
{
    auto frame = MakeFrame();
    frame->layout()->activate();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Quillon"));
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
    EXPECT_EQ(frame->view()->size(), QSize(302, 305));
    EXPECT_EQ(frame->centralWidget(), frame->view());
    EXPECT_EQ(frame->view()->GetDocument(), frame->document());
}

TEST_F(MainFrameTest, CheckMarksFollowTheStateWhenTheMenuOpens)
{
    auto frame = MakeFrame();
    EXPECT_EQ(MenuChecks(*frame), std::make_pair(false, false));

    OptionsMenu(*frame)->actions().at(1)->trigger();
    EXPECT_EQ(state.synchNotRequired, 0);
    EXPECT_EQ(state.replyMode, 0xFFFF);
    EXPECT_EQ(MenuChecks(*frame), std::make_pair(true, false));

    OptionsMenu(*frame)->actions().at(3)->trigger();
    EXPECT_EQ(frame->GetSaveSettings(), 1);
    EXPECT_EQ(MenuChecks(*frame), std::make_pair(true, true));

    // Changed behind the menu's back: the next opening shows it.
    state.synchNotRequired = 1;
    EXPECT_EQ(MenuChecks(*frame), std::make_pair(false, true));
}

TEST_F(MainFrameTest, SynchToggleTwiceRestoresTheModeWhateverTheDeviceDidToReplyMode)
{
    auto frame = MakeFrame();
    frame->OnCommand(CMainFrame::kSynchRequiredCommand);
    state.replyMode = 1; // function code 14 from the device
    frame->OnCommand(CMainFrame::kSynchRequiredCommand);
    EXPECT_EQ(state.synchNotRequired, 1);
    EXPECT_EQ(state.replyMode, 1);
    frame->OnCommand(CMainFrame::kSynchRequiredCommand);
    EXPECT_EQ(state.synchNotRequired, 0);
    EXPECT_EQ(state.replyMode, 0xFFFF);
}

TEST_F(MainFrameTest, EachCommandOpensItsDialogAndUnknownOnesAreRefused)
{
    auto frame = MakeFrame();
    EXPECT_EQ(ModalDialogOpenedBy([&] { frame->OnCommand(32806); }), QStringLiteral("quillon::CSendPacketDlg"));
    EXPECT_EQ(ModalDialogOpenedBy([&] { frame->OnCommand(32792); }), QStringLiteral("quillon::CCommsPort"));
    EXPECT_EQ(ModalDialogOpenedBy([&] { frame->menuBar()->actions().at(1)->trigger(); }),
              QStringLiteral("quillon::CAboutDlg"));
    EXPECT_FALSE(frame->OnCommand(32807));
    EXPECT_FALSE(CMainFrame::IsCommand(0));
    EXPECT_TRUE(CMainFrame::IsCommand(32806));
}

TEST_F(MainFrameTest, AboutBoxShowsPictureVersionAndOk)
{
    CAboutDlg about;
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

TEST_F(MainFrameTest, StartUpOpensTheStoredPortAndReportsAFailureWithoutAStepNumber)
{
    port.failStep = 1;
    auto frame = MakeFrame();
    ASSERT_EQ(port.opened.size(), 1u);
    EXPECT_EQ(port.opened[0], PortTarget::Com(1));
    EXPECT_EQ(port.linkEnabledAtOpen[0], 1);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, MessageIcon::Error);
    EXPECT_EQ(messages.shown[0].second,
              QStringLiteral("Error Initialising COM Port1\r\nCheck correct COM port has been selected"));
}

TEST_F(MainFrameTest, PortGivenForThisRunIsOpenedButNeverStored)
{
    settings.Write({{"Save Settings", 1}, {"COM", 4}, {"Synch Required", 0}});
    auto frame = MakeFrame(PortTarget::Device(QStringLiteral("/dev/ttyUSB3")));
    ASSERT_EQ(port.opened.size(), 1u);
    EXPECT_EQ(port.opened[0], PortTarget::Device(QStringLiteral("/dev/ttyUSB3")));
    frame->close();
    EXPECT_EQ(settings.Value("COM").toInt(), 4);
    EXPECT_FALSE(settings.Value("Device").isValid());
}

TEST_F(MainFrameTest, FirstStartWithoutSettingsUsesDefaultsSilentlyAndCreatesThemOnClose)
{
    ASSERT_FALSE(settings.FileExists());
    auto frame = MakeFrame();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(frame->GetComPort(), 1);
    EXPECT_EQ(MenuChecks(*frame), std::make_pair(false, false));
    EXPECT_FALSE(frame->ReadSettings());

    EXPECT_TRUE(frame->close());
    ASSERT_TRUE(settings.FileExists());
    EXPECT_EQ(settings.Value("COM").toInt(), 1);
    EXPECT_EQ(settings.Value("Synch Required").toInt(), 0);
    EXPECT_EQ(settings.Value("Save Settings").toInt(), 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MainFrameTest, WithSaveSettingsOffValuesAreWrittenButTheNextStartUsesDefaults)
{
    {
        auto frame = MakeFrame();
        frame->SetComPort(5);
        frame->OnCommand(CMainFrame::kSynchRequiredCommand);
        frame->close();
    }
    EXPECT_EQ(settings.Value("COM").toInt(), 5);
    EXPECT_EQ(settings.Value("Synch Required").toInt(), 1);
    EXPECT_EQ(settings.Value("Save Settings").toInt(), 0);

    LinkState fresh;
    FakePortControl freshPort(fresh);
    auto next = std::make_unique<CMainFrame>(FrameContext{fresh, freshPort, clock, messages, std::nullopt, {}});
    EXPECT_EQ(next->GetComPort(), 1);
    EXPECT_EQ(freshPort.opened.at(0), PortTarget::Com(1));
    EXPECT_EQ(fresh.synchNotRequired, 1);
    EXPECT_EQ(fresh.replyMode, 1);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MainFrameTest, WithSaveSettingsOnTheNextStartRestoresPortModeAndOption)
{
    {
        auto frame = MakeFrame();
        frame->SetComPort(12);
        frame->OnCommand(CMainFrame::kSynchRequiredCommand);
        frame->OnCommand(CMainFrame::kSaveSettingsCommand);
        frame->close();
    }
    LinkState fresh;
    FakePortControl freshPort(fresh);
    CMainFrame next(FrameContext{fresh, freshPort, clock, messages, std::nullopt, {}});
    EXPECT_EQ(next.GetComPort(), 12);
    EXPECT_EQ(freshPort.opened.at(0), PortTarget::Com(12));
    EXPECT_EQ(fresh.synchNotRequired, 0);
    EXPECT_EQ(fresh.replyMode, 0xFFFF);
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

TEST_F(MainFrameTest, ReadRulesForMissingAndBrokenValues)
{
    const ReadCase cases[] = {
        {"save missing", {{"COM", 7}, {"Synch Required", 1}}, 1, 0, false, true},
        {"save not a number", {{"Save Settings", "yes"}, {"COM", 7}}, 1, 0, false, true},
        {"save off", {{"Save Settings", 0}, {"COM", 7}, {"Synch Required", 1}}, 1, 0, false, false},
        {"synch missing", {{"Save Settings", 1}, {"COM", 7}}, 7, 1, true, true},
        {"com missing", {{"Save Settings", 1}, {"Synch Required", 0}}, 1, 1, false, false},
        {"com out of range", {{"Save Settings", 1}, {"COM", 300}, {"Synch Required", 0}}, 300, 1, false, false},
        {"save any nonzero", {{"Save Settings", 5}, {"COM", 2}, {"Synch Required", 9}}, 2, 5, true, false},
    };
    for (const ReadCase& c : cases) {
        settings.Write(c.stored);
        LinkState fresh;
        FakePortControl freshPort(fresh);
        RecordingMessages freshMessages;
        CMainFrame frame(FrameContext{fresh, freshPort, clock, freshMessages, std::nullopt, {}});
        EXPECT_EQ(frame.GetComPort(), c.comPort) << c.name;
        EXPECT_EQ(frame.GetSaveSettings(), c.saveSettings) << c.name;
        EXPECT_EQ(fresh.synchNotRequired == 0, c.synchRequired) << c.name;
        EXPECT_EQ(fresh.replyMode == 0xFFFF, c.synchRequired) << c.name;
        ASSERT_EQ(freshMessages.shown.size(), c.message ? 1u : 0u) << c.name;
        if (c.message) {
            EXPECT_EQ(freshMessages.shown[0].first, MessageIcon::Exclamation) << c.name;
            EXPECT_EQ(freshMessages.shown[0].second, kUnableToRead) << c.name;
        }
    }
}

TEST_F(MainFrameTest, UnwritableLocationIsReportedAndTheWindowStillCloses)
{
    auto frame = MakeFrame();
    settings.MakeUnwritable();
    EXPECT_TRUE(frame->close());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, MessageIcon::Exclamation);
    EXPECT_EQ(messages.shown[0].second, kUnableToSave);
}

TEST_F(MainFrameTest, InitInstancePlacesTheWindowAtTheTopLeftAndStartsTheLink)
{
    auto* application = static_cast<CCorvaneApp*>(QCoreApplication::instance());
    const auto frame = application->InitInstance(FrameContext{state, port, clock, messages, std::nullopt, {}});
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->pos(), QPoint(0, 0));
    EXPECT_TRUE(frame->view()->IsTimerRunning());
    EXPECT_EQ(state.linkEnabled, 1);
    frame->close();
}

} // namespace
} // namespace quillon::testing
