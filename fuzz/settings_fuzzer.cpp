// The settings file, any bytes at all, read by the main window as at start-up
// and written back as on close. Whatever the file holds: no crash and no
// sanitizer report; the only message is "Unable to read settings!", shown
// exactly when the read reports failure; the synch mode is one of its two
// states; with "Save Settings" off the port and the mode keep their
// defaults; and what was read is written back whole and reads back the
// same, without a message.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "fuzz/harness.h"
#include "link/panel_engine.h"
#include "ui/main_window.h"
#include "ui/message_sink.h"
#include "ui/port_control.h"

namespace quillon::fuzzing {
namespace {

class CollectedMessages : public MessageSink {
public:
    void ShowMessage(MessageIcon icon, const QString& text) override { shown.emplace_back(icon, text); }
    std::vector<std::pair<MessageIcon, QString>> shown;
};

// A port that opens whatever it is asked to; the window opens one at start.
class AnyPort : public PortControl {
public:
    PanelPort& Port() override { return port; }
    int Open(const PortTarget&) override { return 0; }
    void Close() override {}
    ScriptedPort port;
};

QApplication& Application()
{
    static int argc = 1;
    static char name[] = "settings_fuzzer";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(argc, argv);
    return application;
}

// One program for the whole run, its settings in a private directory.
struct Program {
    Program()
    {
        Application();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, directory.path());
        QDir(directory.path()).mkpath(QStringLiteral("Ostrel"));
        window = std::make_unique<MainWindow>(WindowContext{host, port, messages, std::nullopt, directory.path()});
    }

    QString FilePath() const { return directory.filePath(QStringLiteral("Ostrel/Quillon.conf")); }

    // Puts the bytes in the settings file. Each file gets a time stamp of its
    // own, so the settings cache never takes it for the one before.
    void WriteFile(const std::uint8_t* data, std::size_t size)
    {
        QFile file(FilePath());
        QUILLON_FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QUILLON_FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                           static_cast<qint64>(size));
        file.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000 + ++stamp), QFileDevice::FileModificationTime);
    }

    // The state of a first start: COM 1, the mode off.
    void Defaults()
    {
        window->SetCurrentPort(PortTarget::Com(1));
        engine.SetSynchRequired(false);
        messages.shown.clear();
    }

    // In memory where the machine has it: every save is synced to disk.
    QTemporaryDir directory{QDir(QStringLiteral("/dev/shm")).exists()
                                ? QStringLiteral("/dev/shm/quillon-settings-fuzzer-XXXXXX")
                                : QDir::tempPath() + QStringLiteral("/quillon-settings-fuzzer-XXXXXX")};
    AnyPort port;
    StepClock clock{0};
    PanelHost host{port.port, clock};
    PanelEngine& engine = host.engine();
    CollectedMessages messages;
    std::unique_ptr<MainWindow> window;
    std::int64_t stamp = 0;
};

void CheckSynchMode(const PanelEngine& engine)
{
    const bool on = engine.synchRequired() && engine.replyMode() == kSingleByteReplyMode;
    const bool off = !engine.synchRequired() && engine.replyMode() == kFramedReplyMode;
    QUILLON_FUZZ_CHECK(on || off);
}

void FuzzOneInput(const std::uint8_t* data, std::size_t size)
{
    // Deliberately never destroyed, since Qt's own statics go first at exit;
    // only its directory is removed then.
    static Program* program = [] {
        auto* created = new Program;
        std::atexit([] { program->directory.remove(); });
        return created;
    }();
    Program& p = *program;
    p.WriteFile(data, size);
    p.Defaults();

    const bool read = p.window->ReadSettings();
    QUILLON_FUZZ_CHECK(p.messages.shown.size() <= 1);
    if (!p.messages.shown.empty()) {
        QUILLON_FUZZ_CHECK(p.messages.shown[0].first == MessageIcon::Exclamation);
        QUILLON_FUZZ_CHECK(p.messages.shown[0].second == QStringLiteral("Unable to read settings!"));
        QUILLON_FUZZ_CHECK(!read);
    }
    CheckSynchMode(p.engine);
    if (p.window->GetSaveSettings() == 0) {
        QUILLON_FUZZ_CHECK(p.window->CurrentPort() == PortTarget::Com(1));
        QUILLON_FUZZ_CHECK(!p.engine.synchRequired());
    }

    const PortTarget port = p.window->CurrentPort();
    const int saveSettings = p.window->GetSaveSettings();
    const bool synchRequired = p.engine.synchRequired();

    p.messages.shown.clear();
    QUILLON_FUZZ_CHECK(p.window->WriteSettings());
    QUILLON_FUZZ_CHECK(p.messages.shown.empty());

    p.Defaults();
    QUILLON_FUZZ_CHECK(p.window->ReadSettings());
    QUILLON_FUZZ_CHECK(p.messages.shown.empty());
    QUILLON_FUZZ_CHECK(p.window->GetSaveSettings() == saveSettings);
    if (saveSettings != 0) {
        QUILLON_FUZZ_CHECK(p.window->CurrentPort() == port);
        QUILLON_FUZZ_CHECK(p.engine.synchRequired() == synchRequired);
    }
}

} // namespace
} // namespace quillon::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    quillon::fuzzing::FuzzOneInput(data, size);
    return 0;
}
