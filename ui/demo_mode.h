#pragma once

#include <QObject>
#include <QString>

#include "serial/memory_line.h"
#include "serial/virtual_port.h"
#include "demo/demo_device.h"
#include "ui/port_control.h"

namespace quillon {

class MainWindow;

// `quillon --demo`: a line for the run with the demo device on its far end, so
// the panel has a device to follow on a machine without any hardware: a
// virtual port (a pseudo-terminal) on Linux, an in-process line on Windows,
// which has no pseudo-terminals. The device runs on a thread of its own from
// Start until the window closes; it is always stopped and joined before the
// line ends.
class DemoMode final : public QObject {
    Q_OBJECT

public:
    explicit DemoMode(demo::DemoOptions options = {});
    ~DemoMode() override;
    DemoMode(const DemoMode&) = delete;
    DemoMode& operator=(const DemoMode&) = delete;

    // Makes the virtual port; false with the reason in ErrorText().
    bool CreatePort();
#ifndef Q_OS_WIN
    const VirtualPort& port() const
    {
        return port_;
    }
#endif
    // The virtual port the main window opens for the run, or null when the
    // run's line is an in-process one.
    const VirtualPort* virtualPort() const;
    // The panel's end of the in-process line, or null when the panel opens a
    // virtual port.
    PanelPort* line();
    // How the run's line is named.
    PortTarget Target() const;

    // Starts the device on the port's far end and ties its end to the
    // window's close. Returns 0, or the number of the port set-up step that
    // failed on the device's side, with the reason in ErrorText().
    int Start(MainWindow& window);
    void Stop();
    bool IsRunning() const
    {
        return device_.IsRunning();
    }
    demo::DemoStatus Status() const
    {
        return device_.Status();
    }

    const QString& ErrorText() const
    {
        return error_;
    }

private:
#ifdef Q_OS_WIN
    MemoryLine line_;
#else
    VirtualPort port_;
#endif
    // Declared after the line, so even an unexpected end joins the device's
    // thread while its line still exists.
    demo::DemoDeviceThread device_;
    QString error_;
};

} // namespace quillon
