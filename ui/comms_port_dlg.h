#pragma once

#include <vector>

#include <QDialog>
#include <QString>
#include <QStringList>

#include "ui/port_control.h"

class QComboBox;
class QLineEdit;

namespace quillon {

class CMainFrame;

// The serial devices of the kinds a panel is cabled to (USB adapters, USB
// modems, built-in ports) found in directory, in natural order within each
// kind: ttyUSB*, then ttyACM*, then ttyS*.
QStringList FindSerialDevices(const QString& directory);

// The Comms Port dialog: switches the link to another port at once. Lists
// COM1: to COM256:, then the serial devices found on this machine, then the
// virtual port of this run if there is one; beside the list a field takes
// any device path, for pseudo-terminals and symbolic links that no
// enumeration shows.
class CCommsPort final : public QDialog {
    Q_OBJECT

public:
    static constexpr int kPortListId = 1033;
    static constexpr int kComPortCount = 256;

    explicit CCommsPort(CMainFrame& frame);

    QComboBox* portList() const { return portList_; }
    QLineEdit* pathField() const { return pathField_; }
    // The port that OK switches to: the typed path if there is one, else
    // the selected entry; no selection stands for port number 0.
    PortTarget SelectedPort() const;

    // OK: pauses the link, reopens the port, reports a failure, records the
    // port in the main frame whatever the outcome and resumes the link.
    void accept() override;

private:
    void OnInitDialog();

    CMainFrame& frame_;
    QComboBox* portList_ = nullptr;
    QLineEdit* pathField_ = nullptr;
    // What each list entry stands for, by index.
    std::vector<PortTarget> entries_;
};

} // namespace quillon
