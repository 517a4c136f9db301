#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QTimer>

#include "host/control_service.h"
#include "host/line.h"
#include "host/panel_host.h"
#include "host/web_server.h"
#include "serial/child_process.h"
#include "serial/line_server.h"
#include "serial/port_reconnect.h"
#include "ui/command_line.h"
#include "ui/port_control.h"

namespace quillon {

class MainWindow;

// What a desktop run serves beside its window, as quillon-run does: the
// control socket, the device started with --spawn, and the link's figures
// when the window closes.
class RunServices final : public QObject {
public:
    RunServices(PanelHost& host, Line& line, const CommandLine& commandLine, std::FILE* messages);
    // The servers' threads call the control services, so they go first; a
    // device still running is ended.
    ~RunServices() override;
    RunServices(const RunServices&) = delete;
    RunServices& operator=(const RunServices&) = delete;

    // Serves the control socket when asked; false, with the reason printed,
    // when it cannot. A quit request closes the window.
    bool StartControl(MainWindow& window);
    // Serves the panel as a web page when asked, printing its address; false,
    // with the reason printed, when it cannot.
    bool StartWeb();
    // Starts the device once the panel listens; false, with the reason
    // printed, when it cannot be started. A device that ends first is told
    // in the window, which stays open.
    bool StartDevice(MainWindow& window);
    // With --reconnect, a serial line that hangs up is opened again, looked
    // at on the thread that ticks the engine.
    void KeepReopening(SerialPortControl& control);
    // The figures, when --stats asks for them.
    void PrintStats();

private:
    void CheckDevice(MainWindow& window);

    PanelHost& host_;
    Line& line_;
    const CommandLine& commandLine_;
    std::FILE* const messages_;
    std::unique_ptr<ControlService> control_;
    std::unique_ptr<LineServer> server_;
    std::unique_ptr<WebServer> web_;
    ChildProcess device_;
    QTimer deviceCheck_;
    std::optional<PortReconnect> reconnect_;
    QTimer reconnectCheck_;
};

} // namespace quillon
