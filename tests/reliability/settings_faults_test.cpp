// A settings file that cannot be read, a location that cannot be written, a
// file cut short at every length, and files full of junk. The main window must
// show only its two settings messages, each when its rule says, never crash,
// and save what it holds on close.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include "link/panel_engine.h"
#include "tests/support/fakes.h"
#include "ui/main_window.h"
#include "ui/message_sink.h"
#include "ui/panel_widget.h"
#include "ui/port_control.h"

namespace quillon::testing {
namespace {

const QString kUnableToRead = QStringLiteral("Unable to read settings!");
const QString kUnableToSave = QStringLiteral("Unable to save settings!");

class CollectedMessages : public MessageSink {
public:
    void ShowMessage(MessageIcon icon, const QString& text) override
    {
        EXPECT_EQ(icon, MessageIcon::Exclamation) << text.toStdString();
        texts.push_back(text);
    }
    std::vector<QString> texts;
};

class AnyPort : public PortControl {
public:
    PanelPort& Port() override { return port; }
    int Open(const PortTarget&) override { return 0; }
    void Close() override {}
    QueuePort port;
};

class SettingsFaultTest : public ::testing::Test {
protected:
    SettingsFaultTest() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path()); }
    ~SettingsFaultTest() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QDir::homePath() + QStringLiteral("/.config"));
    }

    QString FilePath() const { return dir.filePath(QStringLiteral("Ostrel/Quillon.conf")); }

    // Puts exactly these bytes in the settings file, with a time stamp of
    // their own so no cached copy of an earlier file is taken for them.
    void WriteFile(const QByteArray& bytes)
    {
        QDir(dir.path()).mkpath(QStringLiteral("Ostrel"));
        QFile file(FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
        file.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000 + ++stamp_), QFileDevice::FileModificationTime);
    }

    QByteArray ReadFile() const
    {
        QFile file(FilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A window as at start-up: COM 1, the mode off, settings read.
    std::unique_ptr<MainWindow> Start()
    {
        engine.SetSynchRequired(false);
        messages.texts.clear();
        return std::make_unique<MainWindow>(WindowContext{host, port, messages, std::nullopt, dir.path()});
    }

    // Saves COM 5, the mode on and "Save Settings" on, the way the program
    // does, and returns the file.
    QByteArray GoodFile(MainWindow& window)
    {
        window.SetComPort(5);
        window.OnCommand(MainWindow::kSynchRequiredCommand);
        window.OnCommand(MainWindow::kSaveSettingsCommand);
        EXPECT_TRUE(window.WriteSettings());
        return ReadFile();
    }

    bool SynchModeOn() const { return engine.synchRequired() && engine.replyMode() == kSingleByteReplyMode; }

    QTemporaryDir dir;
    AnyPort port;
    ManualClock clock;
    PanelHost host{port.port, clock};
    PanelEngine& engine = host.engine();
    CollectedMessages messages;

private:
    std::int64_t stamp_ = 0;
};

TEST_F(SettingsFaultTest, UnreadableFileStartsSilentlyWithDefaultsAndClosingSaysItCannotSave)
{
    // A directory where the file should be: nobody, root included, can read
    // it as a file or write one in its place.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("Ostrel/Quillon.conf")));
    auto window = Start();
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(window->CurrentPort(), PortTarget::Com(1));
    EXPECT_EQ(window->GetSaveSettings(), 0);
    EXPECT_FALSE(SynchModeOn());

    EXPECT_FALSE(window->WriteSettings());
    EXPECT_EQ(messages.texts, std::vector<QString>{kUnableToSave});
    EXPECT_TRUE(QFileInfo(FilePath()).isDir()) << "what is there is left alone";
}

TEST_F(SettingsFaultTest, UnwritableLocationSaysItCannotSaveOnceAndLeavesWhatIsThere)
{
    // A plain file where the settings directory would have to be created.
    QFile blocker(dir.filePath(QStringLiteral("Ostrel")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.write("not a directory");
    blocker.close();

    auto window = Start();
    EXPECT_TRUE(messages.texts.empty()) << "no settings yet is a first start";
    window->SetComPort(5);
    EXPECT_FALSE(window->WriteSettings());
    EXPECT_EQ(messages.texts, std::vector<QString>{kUnableToSave});
    ASSERT_TRUE(blocker.open(QIODevice::ReadOnly));
    EXPECT_EQ(blocker.readAll(), QByteArray("not a directory"));
    EXPECT_EQ(window->GetComPort(), 5) << "the running program keeps its settings";
}

TEST_F(SettingsFaultTest, FileCutShortAtAnyLengthShowsOnlyTheReadMessageAndSavesOnClose)
{
    auto first = Start();
    const QByteArray good = GoodFile(*first);
    ASSERT_FALSE(good.isEmpty());
    first.reset();

    for (qsizetype length = 0; length <= good.size(); ++length) {
        const QByteArray cut = good.left(length);
        WriteFile(cut);
        auto window = Start();
        const std::string at = "cut at " + std::to_string(length) + ": " + cut.toStdString();
        // The file opens, so a value that cannot be read is reported.
        messages.texts.clear();
        const bool read = window->ReadSettings();
        EXPECT_LE(messages.texts.size(), 1u) << at;
        EXPECT_EQ(messages.texts.empty(), read) << at;
        if (!messages.texts.empty()) {
            EXPECT_EQ(messages.texts[0], kUnableToRead) << at;
        }
        messages.texts.clear();
        EXPECT_TRUE(window->WriteSettings()) << at;
        EXPECT_TRUE(messages.texts.empty()) << at;
    }

    struct Cut {
        const char* after; // the file is cut right after this text
        int comPort;
        int saveSettings;
        bool synchOn;
        bool message;
    };
    const Cut cuts[] = {
        {"COM=5\n", 1, 0, false, true},
        {"Save%20Settings=1\n", 5, 1, true, true}, // a missing mode turns it on
        {"Synch%20Required=1\n", 5, 1, true, false},
    };
    for (const Cut& c : cuts) {
        const qsizetype end = good.indexOf(c.after);
        ASSERT_GE(end, 0) << c.after << " in " << good.toStdString();
        WriteFile(good.left(end + qsizetype(std::strlen(c.after))));
        auto window = Start();
        EXPECT_EQ(window->GetComPort(), c.comPort) << c.after;
        EXPECT_EQ(window->GetSaveSettings(), c.saveSettings) << c.after;
        EXPECT_EQ(SynchModeOn(), c.synchOn) << c.after;
        EXPECT_EQ(messages.texts, c.message ? std::vector<QString>{kUnableToRead} : std::vector<QString>{}) << c.after;
    }
}

TEST_F(SettingsFaultTest, JunkFileShowsOnlyTheReadMessageAndIsReplacedWithGoodSettingsOnClose)
{
    std::vector<QByteArray> junk = {
        QByteArray("\0\xff\xfe\0garbage", 12),
        "[General",
        "@\n[",
        "=====\n[[[]]]\n=\n",
        "[General]\nSave%20Settings=yes\nCOM=five\n",
        QByteArray(4096, '['),
    };
    std::mt19937 random(4242);
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::uniform_int_distribution<int> length(1, 600);
    for (int i = 0; i < 40; ++i) {
        QByteArray bytes(length(random), '\0');
        for (auto& byte : bytes) {
            byte = static_cast<char>(byteValue(random));
        }
        junk.push_back(bytes);
    }

    for (const QByteArray& bytes : junk) {
        WriteFile(bytes);
        auto window = Start();
        const std::string what = bytes.left(40).toPercentEncoding().toStdString();
        // The file opens but "Save Settings" cannot be read from it.
        EXPECT_EQ(messages.texts, std::vector<QString>{kUnableToRead}) << what;
        EXPECT_EQ(window->GetSaveSettings(), 0) << what;
        EXPECT_EQ(window->CurrentPort(), PortTarget::Com(1)) << what;
        EXPECT_FALSE(SynchModeOn()) << what;

        messages.texts.clear();
        window->SetComPort(3);
        EXPECT_TRUE(window->WriteSettings()) << what;
        EXPECT_TRUE(messages.texts.empty()) << what;
        const QSettings saved(FilePath(), QSettings::IniFormat);
        EXPECT_EQ(saved.value(QStringLiteral("COM")).toInt(), 3) << what;
        EXPECT_EQ(saved.value(QStringLiteral("Save Settings")).toInt(), window->GetSaveSettings()) << what;
    }
}

TEST_F(SettingsFaultTest, AFileWithOnlyTheViewSectionIsAFirstStartAndKeepsItsViewOnClose)
{
    struct Case {
        QByteArray bytes;
        const char* theme;
    };
    const Case cases[] = {
        {"[View]\nZoom=2\n", "lcd"},
        {"[View]\r\nZoom=3\r\nTheme=amber\r\n", "amber"},
        {"# written by hand\n[View]\nTheme=blue\nPosition=@Point(40 30)\n", "blue"},
    };
    for (const Case& c : cases) {
        WriteFile(c.bytes);
        auto window = Start();
        const std::string what = c.bytes.toStdString();
        EXPECT_TRUE(messages.texts.empty()) << what;
        EXPECT_EQ(window->CurrentPort(), PortTarget::Com(1)) << what;
        EXPECT_EQ(window->GetSaveSettings(), 0) << what;
        EXPECT_FALSE(SynchModeOn()) << what;
        EXPECT_STREQ(window->panel()->theme().key, c.theme) << what;

        EXPECT_TRUE(window->WriteSettings()) << what;
        EXPECT_TRUE(messages.texts.empty()) << what;
        const QSettings saved(FilePath(), QSettings::IniFormat);
        EXPECT_EQ(saved.value(QStringLiteral("COM")).toInt(), 1) << what;
        EXPECT_EQ(saved.value(QStringLiteral("Save Settings")).toInt(), 0) << what;
        EXPECT_EQ(saved.value(QStringLiteral("View/Theme")).toString(), QLatin1String(c.theme)) << what;
    }
}

TEST_F(SettingsFaultTest, OtherEntriesOfAFileWithAJunkLineSurviveTheSave)
{
    WriteFile("[General]\nSave%20Settings=1\nCOM=2\nSynch%20Required=0\na line of junk\n[Other]\nkept=yes\n");
    auto window = Start();
    ASSERT_TRUE(messages.texts.empty());
    EXPECT_TRUE(window->WriteSettings());
    const QSettings saved(FilePath(), QSettings::IniFormat);
    EXPECT_EQ(saved.value(QStringLiteral("Other/kept")).toString(), QStringLiteral("yes"));
    EXPECT_EQ(saved.value(QStringLiteral("COM")).toInt(), 2);
}

} // namespace
} // namespace quillon::testing

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
