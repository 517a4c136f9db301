#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "host/picture.h"
#include "tests/support/gif_reader.h"
#include "tests/ui/ui_fakes.h"
#include "ui/command_line.h"
#include "ui/command_socket.h"
#include "ui/send_packet_dialog.h"

namespace quillon::testing {
namespace {

using Action = CommandLine::Action;

struct ParseCase {
    QStringList arguments;
    Action action;
    QString portPath;
    bool virtualPort;
    QString virtualLink;
    int commandId;
    bool replyOnTick = false;
};

TEST(CommandLineTest, ParsesTheProgramsOptions)
{
    const ParseCase cases[] = {
        {{}, Action::Run, {}, false, {}, 0},
        {{"--port", "/dev/ttyUSB0"}, Action::Run, "/dev/ttyUSB0", false, {}, 0},
        {{"--port=/dev/ttyACM1"}, Action::Run, "/dev/ttyACM1", false, {}, 0},
        {{"--virtual-port"}, Action::Run, {}, true, {}, 0},
        {{"--virtual-port", "/tmp/panel"}, Action::Run, {}, true, "/tmp/panel", 0},
        {{"--virtual-port", "--screenshot", "x.png"}, Action::Run, {}, true, {}, 0},
        {{"--virtual-port=/tmp/panel"}, Action::Run, {}, true, "/tmp/panel", 0},
        {{"--virtual-port", "/tmp/panel", "--reply-on-tick"}, Action::Run, {}, true, "/tmp/panel", 0, true},
        {{"--port", "--virtual-port"}, Action::Run, "--virtual-port", false, {}, 0},
        {{"--reply-on-tick"}, Action::Run, {}, false, {}, 0, true},
        {{"--send-command", "32806"}, Action::SendCommand, {}, false, {}, 32806},
        {{"--send-command=32792"}, Action::SendCommand, {}, false, {}, 32792},
        {{"--port", "/dev/x", "--help"}, Action::Help, "/dev/x", false, {}, 0},
        {{"--version"}, Action::Version, {}, false, {}, 0},
        {{"--send-command", "abc"}, Action::Error, {}, false, {}, 0},
        {{"--send-command", "0"}, Action::Error, {}, false, {}, 0},
        {{"--send-command", "65536"}, Action::Error, {}, false, {}, 0},
        {{"--send-command"}, Action::Error, {}, false, {}, 0},
        {{"--port"}, Action::Error, {}, false, {}, 0},
        {{"--port", "/dev/x", "--virtual-port"}, Action::Error, {}, false, {}, 0},
        {{"--maximise"}, Action::Error, {}, false, {}, 0},
        {{"stray"}, Action::Error, {}, false, {}, 0},
        {{"--virtual-port", "/tmp/panel", "stray"}, Action::Error, {}, false, {}, 0},
        {{"--port="}, Action::Error, {}, false, {}, 0},
    };
    for (const ParseCase& c : cases) {
        const CommandLine parsed = ParseCommandLine(c.arguments);
        const std::string name = c.arguments.join(' ').toStdString();
        EXPECT_EQ(parsed.action, c.action) << name;
        if (c.action == Action::Error) {
            EXPECT_FALSE(parsed.error.isEmpty()) << name;
            continue;
        }
        EXPECT_EQ(parsed.portPath, c.portPath) << name;
        EXPECT_EQ(parsed.virtualPort, c.virtualPort) << name;
        EXPECT_EQ(parsed.virtualLink, c.virtualLink) << name;
        EXPECT_EQ(parsed.commandId, c.commandId) << name;
        EXPECT_EQ(parsed.replyOnTick, c.replyOnTick) << name;
    }
    EXPECT_EQ(ParseCommandLine({"--screenshot", "shot.png"}).screenshotPath, QStringLiteral("shot.png"));
}

struct DemoParseCase {
    QStringList arguments;
    Action action;
    bool demo;
    int screenshotDelayMs;
};

TEST(CommandLineTest, ParsesTheDemoAndWhenItsScreenshotIsTaken)
{
    const DemoParseCase cases[] = {
        {{"--demo"}, Action::Run, true, 2000},
        {{"--demo", "--screenshot", "d.png"}, Action::Run, true, 2000},
        {{"--demo", "--screenshot", "d.png", "--screenshot-after", "0.5"}, Action::Run, true, 500},
        {{"--screenshot-after=0", "--demo", "--screenshot", "d.png"}, Action::Run, true, 0},
        {{"--screenshot", "d.png", "--screenshot-after", "3"}, Action::Run, false, 3000},
        {{"--screenshot", "d.png"}, Action::Run, false, 0},
        {{"--demo", "--port", "/dev/ttyUSB0"}, Action::Error, false, 0},
        {{"--virtual-port", "--demo"}, Action::Error, false, 0},
        {{"--screenshot-after", "2"}, Action::Error, false, 0},
        {{"--screenshot", "d.png", "--screenshot-after"}, Action::Error, false, 0},
        {{"--screenshot", "d.png", "--screenshot-after", "-1"}, Action::Error, false, 0},
        {{"--screenshot", "d.png", "--screenshot-after", "soon"}, Action::Error, false, 0},
        {{"--screenshot", "d.png", "--screenshot-after", "nan"}, Action::Error, false, 0},
        {{"--screenshot", "d.png", "--screenshot-after", "3601"}, Action::Error, false, 0},
    };
    for (const DemoParseCase& c : cases) {
        const CommandLine parsed = ParseCommandLine(c.arguments);
        const std::string name = c.arguments.join(' ').toStdString();
        EXPECT_EQ(parsed.action, c.action) << name;
        if (c.action == Action::Error) {
            EXPECT_FALSE(parsed.error.isEmpty()) << name;
            continue;
        }
        EXPECT_EQ(parsed.demo, c.demo) << name;
        EXPECT_EQ(parsed.screenshotDelayMs, c.screenshotDelayMs) << name;
    }
}

TEST(CommandLineTest, TakesALineRateAndRefusesBadOnes)
{
    EXPECT_EQ(ParseCommandLine({}).lineRate, 0u);
    EXPECT_EQ(ParseCommandLine({"--line-rate", "0"}).lineRate, 0u);
    EXPECT_EQ(ParseCommandLine({"--tcp-listen", "5555", "--line-rate", "9600"}).lineRate, 9600u);
    EXPECT_EQ(ParseCommandLine({"--demo", "--line-rate=115200"}).lineRate, 115200u);
    const struct {
        QStringList arguments;
        const char* error;
    } refused[] = {
        {{"--line-rate", "-9600"}, "is negative"},
        {{"--line-rate", "99999999999999999999"}, "is above the fastest"},
        {{"--line-rate", "fast"}, "is not a whole number"},
        {{"--line-rate", "9600.5"}, "is not a whole number"},
        {{"--line-rate", ""}, "no line rate given"},
        {{"--line-rate"}, "line-rate"},
        {{"--replay", "x.recording", "--line-rate", "9600"}, "does not go with --replay"},
    };
    for (const auto& c : refused) {
        const CommandLine parsed = ParseCommandLine(c.arguments);
        EXPECT_EQ(parsed.action, Action::Error) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(parsed.error.contains(QString::fromLatin1(c.error))) << parsed.error.toStdString();
    }
}

// The options the desktop shares with quillon-run: taken as the runner takes
// them, refused with the runner's reasons, and the runner's own one refused
// with why.
TEST(CommandLineTest, TakesTheRunnersDeviceAndControlOptions)
{
    const CommandLine parsed =
        ParseCommandLine({"--tcp-listen", "0", "--spawn", "device {port}", "--control-tcp", "0", "--stats"});
    ASSERT_EQ(parsed.action, Action::Run) << parsed.error.toStdString();
    EXPECT_EQ(parsed.spawn, QStringLiteral("device {port}"));
    EXPECT_EQ(parsed.controlTcp, std::optional<std::uint16_t>(0));
    EXPECT_TRUE(parsed.stats);
    EXPECT_TRUE(ParseCommandLine({"--demo", "--demo-busy"}).demoBusy);
    const struct {
        QStringList arguments;
        const char* error;
    } refused[] = {
        {{"--demo", "--spawn", "device"}, "--spawn starts a device for --port, --virtual-port"},
        {{"--control", "a.sock", "--control-tcp", "5"}, "give only one of --control and --control-tcp"},
        {{"--control-tcp", "70000"}, "--control-tcp needs a TCP port"},
        {{"--demo", "--reconnect"}, "--reconnect opens a --port again"},
        {{"--demo-busy"}, "--demo-busy goes with --demo"},
        {{"--synch-required"}, "--synch-required is quillon-run's"},
        {{"--port", "/dev/ttyS0", "--demo"}, "give only one of --port, --virtual-port, --demo"},
    };
    for (const auto& c : refused) {
        const CommandLine refusedLine = ParseCommandLine(c.arguments);
        EXPECT_EQ(refusedLine.action, Action::Error) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(refusedLine.error.contains(QString::fromLatin1(c.error))) << refusedLine.error.toStdString();
    }
}

TEST(CommandLineTest, TakesFaultsAndTheirSeedAndRefusesBadOnes)
{
    const CommandLine parsed = ParseCommandLine(
        {"--demo", "--fault", "drop-reply:every=3", "--fault=unplug:for=2s", "--fault-seed", "18446744073709551615"});
    ASSERT_EQ(parsed.action, Action::Run) << parsed.error.toStdString();
    ASSERT_EQ(parsed.faults.size(), 2u);
    EXPECT_EQ(FaultRuleText(parsed.faults[0]), "drop-reply:every=3");
    EXPECT_EQ(FaultRuleText(parsed.faults[1]), "unplug:for=2000ms,after=0ms");
    EXPECT_EQ(parsed.faultSeed, 18446744073709551615u);
    EXPECT_FALSE(ParseCommandLine({}).faultSeed.has_value());
    const struct {
        QStringList arguments;
        const char* error;
    } refused[] = {
        {{"--fault", "lose-reply:every=2"}, "--fault: no fault is called \"lose-reply\": the kinds are drop-reply"},
        {{"--fault", "delay-reply:ms=-1,every=1"}, "ms needs a whole number of milliseconds"},
        {{"--fault-seed", "-1"}, "--fault-seed needs a whole number"},
    };
    for (const auto& c : refused) {
        const CommandLine result = ParseCommandLine(c.arguments);
        EXPECT_EQ(result.action, Action::Error) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(result.error.contains(QString::fromLatin1(c.error))) << result.error.toStdString();
    }
}

// A private runtime directory, so the command socket is this test's alone.
class CommandSocketTest : public WindowTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(runtime.isValid());
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        environment = QProcessEnvironment::systemEnvironment();
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", saved); }

    QTemporaryDir runtime;
    QByteArray saved;
    QProcessEnvironment environment;
};

TEST_F(CommandSocketTest, SocketLivesInTheUsersRuntimeDirectory)
{
    EXPECT_EQ(QFileInfo(CommandSocketPath()).absolutePath(), QFileInfo(runtime.path()).absoluteFilePath());
}

TEST_F(CommandSocketTest, SendCommandOpensTheSendPacketDialogOfTheRunningProgram)
{
    auto window = MakeWindow();
    CommandServer server(&MainWindow::IsCommand);
    ASSERT_TRUE(server.Listen(CommandSocketPath()));
    QObject::connect(&server, &CommandServer::commandReceived, window.get(), &MainWindow::OnCommand,
                     Qt::QueuedConnection);

    bool sendPacketOpened = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<SendPacketDialog*>(QApplication::activeModalWidget())) {
            sendPacketOpened = true;
            dialog->reject();
        }
    });
    watcher.start(0);

    const ProgramRun run = RunProgram({"--send-command", "32806"}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sendPacketOpened; }, 5000));
}

TEST_F(CommandSocketTest, RecordDisplayFilmsFromTheCommandUntilItIsSentAgain)
{
    auto window = MakeWindow();
    CommandServer server(&MainWindow::IsCommand);
    ASSERT_TRUE(server.Listen(CommandSocketPath()));
    QObject::connect(&server, &CommandServer::commandReceived, window.get(), &MainWindow::OnCommand,
                     Qt::QueuedConnection);
    const QString film = runtime.filePath(QStringLiteral("film.gif"));
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->selectFile(film);
            static_cast<QDialog*>(dialog)->accept();
        }
    });
    answer.start(0);
    const auto display = [&] { return Screenshot(Bitmap(engine.display()), DisplayFilm::kScale).pixels; };
    const std::vector<std::uint8_t> before = display();
    const QString record = QString::number(MainWindow::kRecordDisplayCommand);

    ASSERT_EQ(RunProgram({"--send-command", record}, environment).exitCode, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->recording(); }, 5000));
    const auto menuText = [&] {
        for (QAction* action : window->findChildren<QAction*>()) {
            if (action->data() == MainWindow::kRecordDisplayCommand) {
                return action->text();
            }
        }
        return QString();
    };
    EXPECT_EQ(menuText(), QStringLiteral("Stop &Recording"));
    rig.clock.Advance(500);
    rig.queue.Feed(Frame(kWriteArray, {10, 2, 0xFF, 0x81, 0xFF}));
    while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    rig.host.Step(true);
    const std::vector<std::uint8_t> after = display();
    rig.clock.Advance(300);
    ASSERT_EQ(RunProgram({"--send-command", record}, environment).exitCode, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->recording(); }, 5000));
    EXPECT_EQ(menuText(), QStringLiteral("&Record Display..."));

    // Drawing after the stop reaches no film.
    rig.queue.Feed(Frame(kWriteArray, {40, 4, 0xFF}));
    while (engine.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    rig.host.Step(true);
    const Gif gif = GifReader::ReadFile(film.toStdString());
    ASSERT_EQ(gif.frames.size(), 2U);
    EXPECT_TRUE(gif.frames[0].canvas == before);
    EXPECT_EQ(gif.frames[0].delayCs, 50);
    EXPECT_TRUE(gif.frames[1].canvas == after);
    EXPECT_EQ(gif.frames[1].delayCs, 30);
    EXPECT_TRUE(messages.shown.empty());

    // A film that cannot be written is told, and none runs.
    const QString missing = runtime.filePath(QStringLiteral("missing/film.gif"));
    EXPECT_FALSE(window->StartRecording(missing));
    EXPECT_FALSE(window->recording());
    ASSERT_EQ(messages.shown.size(), 1U);
    EXPECT_TRUE(messages.shown[0].second.contains(missing)) << messages.shown[0].second.toStdString();
}

TEST_F(CommandSocketTest, UnknownCommandsAndAMissingProgramAreReported)
{
    const ProgramRun nobody = RunProgram({"--send-command", "32806"}, environment);
    EXPECT_EQ(nobody.exitCode, 1);
    EXPECT_TRUE(nobody.err.contains(QStringLiteral("no running Quillon"))) << nobody.err.toStdString();

    CommandServer server(&MainWindow::IsCommand);
    ASSERT_TRUE(server.Listen(CommandSocketPath()));
    QSignalSpy received(&server, &CommandServer::commandReceived);
    const ProgramRun unknown = RunProgram({"--send-command", "123"}, environment);
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("no command 123"))) << unknown.err.toStdString();
    EXPECT_EQ(received.count(), 0);
}

TEST_F(CommandSocketTest, OnlyOneRunningProgramOwnsTheSocket)
{
    CommandServer first(&MainWindow::IsCommand);
    ASSERT_TRUE(first.Listen(CommandSocketPath()));
    CommandServer second(&MainWindow::IsCommand);
    EXPECT_FALSE(second.Listen(CommandSocketPath()));
}

TEST(ProgramTest, WithoutADisplayItSaysSoInOneLineAndFails)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    const ProgramRun unset = RunProgram({}, environment);
    EXPECT_EQ(unset.exitCode, 1);
    EXPECT_EQ(unset.err.count(QLatin1Char('\n')), 1) << unset.err.toStdString();
    EXPECT_TRUE(unset.err.contains(QStringLiteral("no display"))) << unset.err.toStdString();

    // A demo run says how to see it on a server.
    const ProgramRun demo = RunProgram({"--demo"}, environment);
    EXPECT_EQ(demo.exitCode, 1);
    EXPECT_EQ(demo.err.count(QLatin1Char('\n')), 1) << demo.err.toStdString();
    EXPECT_TRUE(demo.err.contains(QStringLiteral("xvfb-run -a quillon --demo --screenshot"))) << demo.err.toStdString();

    // A display that nobody serves.
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":97"));
    const ProgramRun unreachable = RunProgram({}, environment);
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_EQ(unreachable.err.count(QLatin1Char('\n')), 1) << unreachable.err.toStdString();
    EXPECT_TRUE(unreachable.err.contains(QStringLiteral(":97"))) << unreachable.err.toStdString();
}

TEST(ProgramTest, HelpNamesEveryOptionAndVersionShowsTheVersion)
{
    const ProgramRun run = RunProgram({"--help"}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--port PATH", "--virtual-port [LINK]", "--demo", "--send-command ID", "--reply-on-tick",
                               "--reconnect", "--screenshot FILE", "--screenshot-after SECONDS", "--line-rate BAUD",
                               "--record-display FILE", "--help", "--version", "Ostrel/Quillon.conf", "xvfb-run"}) {
        EXPECT_TRUE(run.out.contains(QString::fromLatin1(option))) << option;
    }
    // A bad value is refused before any window, naming what is taken.
    const ProgramRun badRate = RunProgram({"--demo", "--line-rate", "-1"}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(badRate.exitCode, 2);
    EXPECT_TRUE(badRate.err.contains(QStringLiteral("--line-rate: line rate \"-1\" is negative: give a whole number")))
        << badRate.err.toStdString();
    const ProgramRun version = RunProgram({"--version"}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("Quillon Version 1.2.1.1\n"));
}

TEST(ProgramTest, VirtualPortPrintsItsPathAndTheWindowComesUp)
{
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    const QString link = dir.filePath(QStringLiteral("panel"));
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    const ProgramRun run = RunProgram({"--virtual-port", link, "--screenshot", shot}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, link + QStringLiteral("\nquillon: screenshot saved to ") + shot + QLatin1Char('\n'));
    const QImage picture(shot);
    EXPECT_EQ(picture.width(), 302);
    EXPECT_GT(picture.height(), 305) << "panel and menu bar";
}

TEST(ProgramTest, RecordDisplayWritesAFilmOrRefusesTheRunAtOnce)
{
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    const QString film = dir.filePath(QStringLiteral("film.gif"));
    const ProgramRun run = RunProgram(
        {"--demo", "--screenshot", dir.filePath(QStringLiteral("shot.png")), "--record-display", film}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile written(film);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().startsWith("GIF89a"));

    // The path and the system's reason.
    const QString missing = dir.filePath(QStringLiteral("missing/film.gif"));
    const ProgramRun refused = RunProgram({"--demo", "--record-display", missing}, environment);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err.count(QLatin1Char('\n')), 1) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("--record-display: cannot write ") + missing +
                                     QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(ENOENT))))
        << refused.err.toStdString();
}

TEST(ProgramTest, ASettingsFileWithOnlyAZoomStartsWithoutAMessageAtThatZoom)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("Ostrel"));
    QFile settings(dir.filePath(QStringLiteral("Ostrel/Quillon.conf")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[View]\nZoom=2\n");
    settings.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    const ProgramRun run =
        RunProgram({"--virtual-port", dir.filePath(QStringLiteral("panel")), "--screenshot", shot}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QStringLiteral("settings"))) << run.err.toStdString();
    EXPECT_EQ(QImage(shot).width(), 2 * 302);
}

TEST(ProgramTest, ScreenshotRunReportsAPortThatCannotBeOpenedOnStandardError)
{
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    const QString missing = dir.filePath(QStringLiteral("ttyUSB9"));
    const ProgramRun run =
        RunProgram({"--port", missing, "--screenshot", dir.filePath(QStringLiteral("shot.png"))}, environment);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains(QStringLiteral("quillon: Error Initialising %1\nCheck correct COM port has been "
                                                "selected\n")
                                     .arg(missing)))
        << run.err.toStdString();
}

} // namespace
} // namespace quillon::testing
