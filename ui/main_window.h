#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QMainWindow>
#include <QPoint>
#include <QString>

#include "host/display_film.h"
#include "host/panel_host.h"
#include "link/panel_engine.h"
#include "ui/message_sink.h"
#include "ui/port_control.h"

class QAction;
class QActionGroup;
class QSettings;

namespace quillon {

class PanelWidget;

// What the main window works with; all of it outlives the window. The engine
// talks through the port control's port.
struct WindowContext {
    PanelHost& host;
    PortControl& port;
    MessageSink& messages;
    // The port named on the command line for this run, used instead of the
    // stored one and never stored.
    std::optional<PortTarget> runPort;
    // Where the Comms Port dialog looks for serial devices.
    QString deviceDirectory = QStringLiteral("/dev");
};

// The main window: a fixed-size frame around the panel, with the Options
// menu, the View menu, the About box, the stored settings and the command
// identifiers that the menu and the command socket issue.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    enum Command : int {
        kCommsPortCommand = 32792,
        kAboutCommand = 32800,
        kSendPacketCommand = 32806,
        kSynchRequiredCommand = 32808,
        kSaveSettingsCommand = 32810,
        // View > Record Display... and, while a film runs, Stop Recording.
        kRecordDisplayCommand = 32812,
    };

    // Reads the settings and opens the port before the window exists, as
    // the program always has; a port that cannot be opened is reported and
    // start-up goes on.
    explicit MainWindow(const WindowContext& context, QWidget* parent = nullptr);
    // A film still running is finished, a failure told as a message.
    ~MainWindow() override;

    int GetComPort() const { return comPort_; }
    void SetComPort(int portNumber) { comPort_ = portNumber; }
    int GetSaveSettings() const { return saveSettings_; }

    // The port the link uses: the one named for this run, else the stored
    // device path, else the COM number.
    PortTarget CurrentPort() const;
    // Records the port the Comms Port dialog switched to. A COM number or a
    // device path becomes the stored port; the virtual port is for this run.
    void SetCurrentPort(const PortTarget& target);
    // The virtual port made for this run, if any.
    const std::optional<PortTarget>& VirtualPort() const { return virtualPort_; }

    bool ReadSettings();
    bool WriteSettings();

    // The View menu's actions. Zoom is kept within 1 to 4 and to the zooms
    // at which the window fits the screen's available area; a theme is
    // named by its settings key, and an unknown one is the LCD.
    void SetZoom(int zoom);
    int LargestZoomThatFits() const;
    void SetTheme(const QString& key);
    // The display alone to the clipboard, each pixel scale x scale.
    void CopyDisplay(int scale);
    // The display at the current zoom as a PNG file; a failure is reported.
    bool SaveDisplay(const QString& path);

    // The film of the display: one started already (--record-display) is
    // handed over, so that Stop Recording and the program's end finish it.
    void TakeRecording(std::unique_ptr<DisplayFilm> film, const QString& path);
    // Starts a film into path from now; a failure is told as a message.
    bool StartRecording(const QString& path);
    // Finishes the film running, if any: what could not be written, or
    // nothing.
    QString StopRecording();
    bool recording() const { return film_ != nullptr; }

    // Runs a command by its identifier; false when the window has no such
    // command.
    bool OnCommand(int id);
    static bool IsCommand(int id);

    // The device the program started has ended: the title says so, and the
    // window stays for what the panel shows.
    void TellDeviceEnded(const QString& how);

    PanelWidget* panel() const { return panel_; }
    PanelEngine& engine() { return context_.host.engine(); }
    PortControl& portControl() { return context_.port; }
    MessageSink& messages() { return context_.messages; }
    const QString& deviceDirectory() const { return context_.deviceDirectory; }

signals:
    // The window has accepted its close and written the settings.
    void closed();
    // View > Protocol Monitor.
    void protocolMonitorRequested();
    // The panel has been magnified anew, and the window kept on the screen.
    void zoomChanged(int zoom);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void KeepOnScreen();
    void OpenStartPort();
    void CreateMenus();
    void CreateViewMenu();
    void UpdateMenuChecks();
    void UpdateViewChecks();
    // Zoom, colours and the window position, in a [View] group beside the
    // port and mode keys, read whatever "Save Settings" says.
    void ReadViewSettings(const QSettings& settings);
    void WriteViewSettings(QSettings& settings) const;
    void OnSaveDisplayAs();
    void OnRecordDisplay();

    void OnCommsPort();
    void OnSynchRequired();
    void OnSaveSettings();
    void OnAppAbout();
    void OnSendPacket();

    WindowContext context_;
    std::int32_t comPort_ = 1;
    std::int32_t saveSettings_ = 0;
    // The device path stored in place of the COM number; empty while the
    // COM number is in use.
    QString devicePath_;
    // A port has been chosen since the start: a stored Device the program
    // did not read is then the program's to replace or take away.
    bool portChosen_ = false;
    std::optional<PortTarget> runPort_;
    std::optional<PortTarget> virtualPort_;
    PanelWidget* panel_ = nullptr;
    QAction* synchRequiredAction_ = nullptr;
    QAction* saveSettingsAction_ = nullptr;
    QAction* recordAction_ = nullptr;
    std::unique_ptr<DisplayFilm> film_;
    QString filmPath_;
    QActionGroup* zoomGroup_ = nullptr;
    QActionGroup* themeGroup_ = nullptr;
    // The window position to restore when the window is first shown, and
    // whether it has been shown, so a window never seen stores none.
    std::optional<QPoint> storedPosition_;
    bool shown_ = false;
};

} // namespace quillon
