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

#include "link/link_state.h"
#include "tests/support/fakes.h"
#include "ui/main_frame.h"
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

// A port that opens whatever it is told to, or fails at a chosen step, and
// remembers what it was asked and whether the link was running then.
class FakePortControl : public PortControl {
public:
    explicit FakePortControl(const LinkState& state) : state_(state) {}

    PanelPort& Port() override { return port; }
    int Open(const PortTarget& target) override;
    void Close() override { calls.push_back(QStringLiteral("close")); }

    QueuePort port;
    int failStep = 0;
    std::vector<PortTarget> opened;
    std::vector<std::uint8_t> linkEnabledAtOpen;
    std::vector<QString> calls;

private:
    const LinkState& state_;
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

// A main frame over fakes, with its settings in a sandbox.
class FrameTest : public ::testing::Test {
protected:
    std::unique_ptr<CMainFrame> MakeFrame(std::optional<PortTarget> runPort = std::nullopt,
                                          const QString& deviceDirectory = QString());

    SettingsSandbox settings;
    LinkState state;
    FakePortControl port{state};
    ManualClock clock;
    RecordingMessages messages;
    QTemporaryDir emptyDeviceDirectory;
};

} // namespace quillon::testing
