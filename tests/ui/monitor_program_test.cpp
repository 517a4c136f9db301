// The program's monitor, trace, record, replay and TCP options, run as the
// user runs them.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "tests/demo/panel_pictures.h"
#include "tests/ui/ui_fakes.h"
#include "ui/command_line.h"
#include "ui/panel_widget.h"

namespace quillon::testing {
namespace {

using Action = CommandLine::Action;

const QString kExample = QStringLiteral(QUILLON_SOURCE_DIR "/examples/recordings/main-menu.rec");

struct OptionCase {
    QStringList arguments;
    // Empty when the arguments are fine.
    QString error;
};

TEST(MonitorOptionsTest, ParsesTheMonitorTraceRecordReplayAndTcpOptions)
{
    const CommandLine all = ParseCommandLine({"--monitor", "--trace", "-", "--trace-format", "jsonl", "--record",
                                              "r.rec", "--replay", "in.rec", "--speed", "2.5"});
    EXPECT_EQ(all.action, Action::Run) << all.error.toStdString();
    EXPECT_TRUE(all.monitor);
    EXPECT_EQ(all.tracePath, QStringLiteral("-"));
    EXPECT_TRUE(all.traceJson);
    EXPECT_EQ(all.recordPath, QStringLiteral("r.rec"));
    EXPECT_EQ(all.replayPath, QStringLiteral("in.rec"));
    EXPECT_EQ(all.replaySpeed, 2.5);

    EXPECT_EQ(ParseCommandLine({"--monitor", "--screenshot", "s.png", "--screenshot-row", "12"}).screenshotRow, 12u);

    const CommandLine listen = ParseCommandLine({"--tcp-listen", "5555"});
    ASSERT_TRUE(listen.tcpAddress);
    EXPECT_TRUE(listen.tcpListen);
    EXPECT_EQ(listen.tcpAddress->host, "127.0.0.1");
    EXPECT_EQ(listen.tcpAddress->port, 5555);
    const CommandLine connect = ParseCommandLine({"--tcp-connect", "device.local:4000", "--trace", "t.txt"});
    ASSERT_TRUE(connect.tcpAddress);
    EXPECT_FALSE(connect.tcpListen);
    EXPECT_EQ(connect.tcpAddress->host, "device.local");
    EXPECT_FALSE(connect.traceJson);

    const OptionCase refused[] = {
        {{"--trace-format", "jsonl"}, "--trace-format goes with --trace FILE"},
        {{"--trace", "t", "--trace-format", "xml"}, "--trace-format is text or jsonl"},
        {{"--trace="}, "--trace needs a file name"},
        {{"--speed", "2"}, "--speed goes with --replay FILE"},
        {{"--replay", "r", "--speed", "0"}, "--speed needs a number above 0 and at most 100"},
        {{"--replay", "r", "--speed", "fast"}, "--speed needs a number above 0 and at most 100"},
        {{"--replay", "r", "--demo"},
         "give only one of --port, --virtual-port, --demo, --replay, --tcp-connect, "
         "--tcp-listen"},
        {{"--tcp-listen", "1", "--port", "/dev/ttyS0"},
         "give only one of --port, --virtual-port, --demo, --replay, "
         "--tcp-connect, --tcp-listen"},
        {{"--tcp-connect", "4000"}, "--tcp-connect: \"4000\" has no host; give HOST:PORT"},
        {{"--monitor", "--screenshot", "s.png", "--screenshot-row", "0"},
         "--screenshot-row needs a row number from 1 on"},
        {{"--screenshot", "s.png", "--screenshot-row", "3"},
         "--screenshot-row goes with --monitor and --screenshot FILE"},
        {{"--tcp-listen", "host:99999"}, "--tcp-listen: \"host:99999\" has no port number from 0 to 65535"},
    };
    for (const OptionCase& c : refused) {
        const CommandLine parsed = ParseCommandLine(c.arguments);
        EXPECT_EQ(parsed.action, Action::Error) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(parsed.error, c.error) << c.arguments.join(' ').toStdString();
    }
}

// The program on the offscreen platform with its own settings and runtime
// folder.
class ProgramRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    ProgramRun Run(const QStringList& arguments) const { return RunProgram(arguments, environment); }
    void Write(const QString& path, const QByteArray& contents) const
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

TEST_F(ProgramRunTest, FilesThatCannotBeWrittenOrPlayedStopItAtStartInOneLine)
{
    Write(Path("version.rec"), "quillon-recording 2\n0 85 01 00 87\n");
    Write(Path("cut.rec"), "quillon-recording 1\n0 85 01 00 87\n1000 85 01");
    Write(Path("hex.rec"), "quillon-recording 1\n0 85 01 00 87\n1000 85 0G\n2000 85 01 00 87\n");
    struct Case {
        QStringList arguments;
        QString line;
    };
    const QString missing = Path("no/such/folder/file");
    const QStringList traced{"--trace", Path("trace.txt")};
    const Case cases[] = {
        {{"--trace", missing}, "quillon: --trace: cannot write " + missing + ": No such file or directory\n"},
        {{"--record", missing}, "quillon: --record: cannot write " + missing + ": No such file or directory\n"},
        {QStringList{"--replay", Path("version.rec")} + traced,
         "quillon: " + Path("version.rec") +
             ": byte 18: unknown version 2 (this program reads version 1); nothing was played\n"},
        {QStringList{"--replay", Path("cut.rec")} + traced,
         "quillon: " + Path("cut.rec") +
             ": byte 34: the last line is cut short (no line feed): the file was truncated; nothing was played\n"},
        {QStringList{"--replay", Path("hex.rec")} + traced,
         "quillon: " + Path("hex.rec") + ": byte 42: expected two hex digits; nothing was played\n"},
        {QStringList{"--replay", missing} + traced,
         "quillon: " + missing + ": byte 0: cannot be read; nothing was played\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = Run(c.arguments + QStringList{"--screenshot", Path("shot.png")});
        const std::string name = c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.exitCode, 2) << name;
        EXPECT_EQ(run.err.toStdString(), c.line.toStdString()) << name;
        EXPECT_FALSE(QFile::exists(Path("shot.png"))) << name;
    }
    EXPECT_FALSE(QFile::exists(Path("trace.txt"))) << "a refused recording plays nothing";
}

// Where the display sits in a screenshot of the window alone: the panel
// fills the window below the menu bar.
QPoint DisplayOrigin(const QImage& window)
{
    return QPoint(0, window.height() - PanelWidget::kPanelSize.height()) + PanelWidget::kDisplayRect.topLeft();
}

bool ShowsPages(const QImage& window, const Pages& pages)
{
    const QPoint origin = DisplayOrigin(window);
    for (int y = 0; y < kDisplayHeight; ++y) {
        for (int x = 0; x < kDisplayWidth; ++x) {
            const bool ink =
                ((pages[static_cast<std::size_t>(y / 8)][static_cast<std::size_t>(x)] >> (y % 8)) & 1) != 0;
            const QRgb expected = ink ? PanelWidget::kDisplayInk : PanelWidget::kDisplayBackground;
            if ((window.pixel(origin + QPoint(x, y)) & RGB_MASK) != (expected & RGB_MASK)) {
                return false;
            }
        }
    }
    return true;
}

TEST_F(ProgramRunTest, AReplayOfTheDemoEndsWithTheDisplayOfTheLiveRun)
{
    const ProgramRun live =
        Run({"--demo", "--record", Path("demo.rec"), "--screenshot", Path("live.png"), "--screenshot-after", "0.5"});
    ASSERT_EQ(live.exitCode, 0) << live.err.toStdString();
    const QImage shown(Path("live.png"));
    ASSERT_TRUE(ShowsPages(shown, PictureOf(MenuAt(0)))) << "the live run shows the demo's main menu";

    const ProgramRun replay = Run({"--replay", Path("demo.rec"), "--speed", "4", "--screenshot", Path("replay.png")});
    ASSERT_EQ(replay.exitCode, 0) << replay.err.toStdString();
    EXPECT_TRUE(replay.out.contains(QStringLiteral("demo.rec has been played to its end"))) << replay.out.toStdString();
    EXPECT_EQ(QImage(Path("replay.png")), shown);
}

TEST_F(ProgramRunTest, TheReadmesMonitorPictureShowsTheColumnsAsTheProgramOpensThem)
{
    // A 1280 x 1024 screen without window frames, as under xvfb-run, where
    // the README's picture is taken.
    Write(Path("screen.json"), R"({"windowFrameMargins": false, "screens": [{"name": "screen", "x": 0, "y": 0,
        "width": 1280, "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                       QStringLiteral("offscreen:configfile=") + Path("screen.json"));
    const ProgramRun run =
        Run({"--replay", kExample, "--speed", "4", "--monitor", "--screenshot", Path("monitor.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    const QImage taken = QImage(Path("monitor.png")).convertToFormat(QImage::Format_RGB32);
    const QImage docs =
        QImage(QStringLiteral(QUILLON_SOURCE_DIR "/docs/monitor.png")).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(taken.size(), docs.size()) << "docs/monitor.png is no longer the window the program opens";
    // The times differ from run to run, and nothing else: the pixel columns
    // that differ lie in the two time columns. Columns of other widths would
    // move the titles, the texts and the lines between them.
    int differing = 0;
    for (int x = 0; x < taken.width(); ++x) {
        for (int y = 0; y < taken.height(); ++y) {
            if (taken.pixel(x, y) != docs.pixel(x, y)) {
                ++differing;
                break;
            }
        }
    }
    EXPECT_LE(differing, taken.width() / 5) << "the columns of docs/monitor.png are not where the program puts them: "
                                               "take the picture again with the README's command";
}

// The lines of the README's code block that follows the line ending in
// `command`.
QStringList ReadmeExample(const QString& command)
{
    QFile readme(QStringLiteral(QUILLON_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    enum class Seen { Nothing, Command, Block } seen = Seen::Nothing;
    QStringList example;
    for (const QString& line : QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'))) {
        const bool fence = line.startsWith(QStringLiteral("```"));
        if (seen == Seen::Nothing && line.trimmed().endsWith(command)) {
            seen = Seen::Command;
        } else if (seen == Seen::Command && fence) {
            seen = Seen::Block;
        } else if (seen == Seen::Block && fence) {
            break;
        } else if (seen == Seen::Block) {
            example << line;
        }
    }
    return example;
}

// Times depend on when the window came up; everything else is the same in
// every run.
QString WithoutTime(QString line)
{
    static const QRegularExpression textTime(QStringLiteral("^ *\\d+\\.\\d{3}  "));
    static const QRegularExpression jsonTime(QStringLiteral("^\\{\"t\":\\d+\\.\\d{3},"));
    return line.replace(textTime, QStringLiteral("T  ")).replace(jsonTime, QStringLiteral("{\"t\":T,"));
}

TEST_F(ProgramRunTest, TheReadmesTraceExamplesAreWhatTheReplayWrites)
{
    const QString command = QStringLiteral("--replay examples/recordings/main-menu.rec --trace -");
    for (const QString& format : {QStringLiteral("text"), QStringLiteral("jsonl")}) {
        const QStringList example = ReadmeExample(
            format == QStringLiteral("jsonl") ? command + QStringLiteral(" --trace-format jsonl") : command);
        ASSERT_GE(example.size(), 3) << format.toStdString();
        const ProgramRun run = Run({"--replay", kExample, "--speed", "4", "--trace", "-", "--trace-format", format,
                                    "--screenshot", Path("shot.png")});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        QStringList written;
        for (const QString& line : run.out.split(QLatin1Char('\n'))) {
            if (!line.startsWith(QStringLiteral("quillon:")) && !line.isEmpty()) {
                written << WithoutTime(line);
            }
        }
        for (const QString& line : example) {
            EXPECT_TRUE(written.contains(WithoutTime(line))) << line.toStdString() << "\nwritten:\n"
                                                             << written.join('\n').toStdString();
        }
    }
}

TEST_F(ProgramRunTest, ATraceOnStandardOutputHasItAloneAndTheMessagesGoToStandardError)
{
    const ProgramRun run = Run({"--replay", kExample, "--speed", "4", "--trace", "-", "--trace-format", "jsonl",
                                "--screenshot", Path("shot.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (const QString& line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        EXPECT_TRUE(line.startsWith(QStringLiteral("{\"t\":"))) << line.toStdString();
    }
    EXPECT_TRUE(run.err.contains(QStringLiteral("main-menu.rec has been played to its end"))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("screenshot saved to"))) << run.err.toStdString();
}

TEST_F(ProgramRunTest, ADeviceOnATcpSocketIsAnsweredAndTraced)
{
    QTcpServer device;
    ASSERT_TRUE(device.listen(QHostAddress::LocalHost));
    QObject::connect(&device, &QTcpServer::newConnection, &device, [&device] {
        QTcpSocket* line = device.nextPendingConnection();
        line->write(QByteArray::fromHex("85010087"));
    });
    const ProgramRun run = Run({"--tcp-connect", QStringLiteral("127.0.0.1:%1").arg(device.serverPort()), "--trace",
                                "-", "--screenshot", Path("shot.png"), "--screenshot-after", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression(QStringLiteral("device  block 1 +85 01 00 87  READ SWITCHES"))))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression(QStringLiteral("panel   block 1 +.+  short status 0x00"))))
        << run.out.toStdString();
}

} // namespace
} // namespace quillon::testing
