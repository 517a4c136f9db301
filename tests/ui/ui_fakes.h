#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "link/panel_engine.h"
#include "tests/support/fakes.h"
#include "ui/main_window.h"
#include "ui/message_sink.h"
#include "ui/port_control.h"

namespace quillon::testing {

// Messages collected instead of shown.
class RecordingMessages : public MessageSink {
public:
    void ShowMessage(MessageIcon icon, const QString& text) override;

    std::vector<std::pair<MessageIcon, QString>> shown;
    // Runs while a message is "on screen".
    std::function<void()> whileShown;
};

// A port control over a queue port that opens whatever it is told to, or
// fails at a chosen step, and remembers what it was asked and whether the
// engine's link was enabled then.
class FakePortControl : public PortControl {
public:
    FakePortControl(PanelPort& port, const PanelEngine& engine) : port_(port), engine_(engine) {}

    PanelPort& Port() override { return port_; }
    int Open(const PortTarget& target) override;
    void Close() override { calls.push_back(QStringLiteral("close")); }

    int failStep = 0;
    std::vector<PortTarget> opened;
    std::vector<bool> linkEnabledAtOpen;
    std::vector<QString> calls;

private:
    PanelPort& port_;
    const PanelEngine& engine_;
};

// An engine on a queue port and a hand-driven clock, with the port control a
// main window opens that port through.
struct PanelRig {
    WindowContext Context(MessageSink& messages, std::optional<PortTarget> runPort = std::nullopt,
                          const QString& deviceDirectory = QString())
    {
        return WindowContext{host, port, messages, std::move(runPort), deviceDirectory};
    }

    QueuePort queue;
    ManualClock clock;
    PanelHost host{queue, clock};
    PanelEngine& engine = host.engine();
    FakePortControl port{queue, engine};
};

// Points the settings at a private directory for the life of the object.
class SettingsSandbox {
public:
    SettingsSandbox();
    ~SettingsSandbox();
    SettingsSandbox(const SettingsSandbox&) = delete;
    SettingsSandbox& operator=(const SettingsSandbox&) = delete;

    // Where the settings go: <dir>/Ostrel/Quillon.conf.
    QString FilePath() const;
    // Writes the file with exactly these values (name, value).
    void Write(const std::vector<std::pair<QString, QVariant>>& values) const;
    // A stored value, invalid when missing.
    QVariant Value(const QString& key) const;
    bool FileExists() const;
    // Sends the settings somewhere no file can be created.
    void MakeUnwritable();

private:
    QTemporaryDir dir_;
};

// Every label and button of the dialog shows its whole text.
void ExpectTextsFit(const QWidget& dialog);

// What a run of the program gave; exitCode stays -1 when it did not end in
// time and was killed.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the program with the given arguments and environment, while this
// process keeps its event loop going.
ProgramRun RunProgram(const QStringList& arguments, const QProcessEnvironment& environment);

// A main window over fakes, with its settings in a sandbox.
class WindowTest : public ::testing::Test {
protected:
    std::unique_ptr<MainWindow> MakeWindow(std::optional<PortTarget> runPort = std::nullopt,
                                           const QString& deviceDirectory = QString());

    SettingsSandbox settings;
    PanelRig rig;
    PanelEngine& engine = rig.engine;
    FakePortControl& port = rig.port;
    RecordingMessages messages;
    QTemporaryDir emptyDeviceDirectory;
};

} // namespace quillon::testing
