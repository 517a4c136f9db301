#pragma once

#include <QObject>
#include <QString>

#include "serial/virtual_port.h"
#include "tools/demo/demo_device.h"
#include "ui/port_control.h"

namespace quillon {

class MainWindow;

// `quillon --demo`: a virtual port for the run with the demo device on its far
// end, so the panel has a device to follow on a machine without any hardware.
// The device runs on a thread of its own from Start until the window closes;
// it is always stopped and joined before the port ends.
class DemoMode final : public QObject {
    Q_OBJECT

public:
    explicit DemoMode(demo::DemoOptions options = {});
    ~DemoMode() override;
    DemoMode(const DemoMode&) = delete;
    DemoMode& operator=(const DemoMode&) = delete;

    // Makes the virtual port; false with the reason in ErrorText().
    bool CreatePort();
    const VirtualPort& port() const { return port_; }
    // The port the main window opens for the run.
    PortTarget Target() const;

    // Starts the device on the port's far end and ties its end to the
    // window's close. Returns 0, or the number of the port set-up step that
    // failed on the device's side, with the reason in ErrorText().
    int Start(MainWindow& window);
    void Stop();
    bool IsRunning() const { return device_.IsRunning(); }
    demo::DemoStatus Status() const { return device_.Status(); }

    const QString& ErrorText() const { return error_; }

private:
    VirtualPort port_;
    // Declared after the port, so even an unexpected end joins the device's
    // thread while its line still exists.
    demo::DemoDeviceThread device_;
    QString error_;
};

} // namespace quillon
