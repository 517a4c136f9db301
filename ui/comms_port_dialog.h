#pragma once

#include <optional>
#include <vector>

#include <QDialog>
#include <QString>
#include <QStringList>

#include "ui/port_control.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace quillon {

class MainWindow;

// The serial devices of the kinds a panel is cabled to (USB adapters, USB
// modems, built-in ports) found in directory, in natural order within each
// kind: ttyUSB*, then ttyACM*, then ttyS*. On Windows, the COM ports the
// system has, in their order ("COM3", "COM11"); directory is not used.
QStringList FindSerialDevices(const QString& directory);

// How the port list shows a device FindSerialDevices found: on Linux its
// path; on Windows its COM port marked as one this PC has ("COM7: (on this
// PC)"), set apart from COM1: to COM256:, which the list holds whether the
// PC has them or not.
QString FoundDeviceEntry(const QString& device);

// What the empty path field shows of the paths it takes: "Device path" on
// Linux; on Windows the two ways to write a COM port.
QString DevicePathHint();

// The Comms Port dialog: switches the link to another port at once. Lists
// COM1: to COM256:, then the serial devices found on this machine (on
// Windows, the COM ports it has, marked), then the virtual port of this run
// if there is one; beside the list a field takes any device path, for
// pseudo-terminals and symbolic links that no enumeration shows. OK stays
// disabled while neither names a port.
class CommsPortDialog final : public QDialog {
    Q_OBJECT

public:
    static constexpr int kPortListId = 1033;
    static constexpr int kComPortCount = 256;

    explicit CommsPortDialog(MainWindow& window);

    QComboBox* portList() const { return portList_; }
    QLineEdit* pathField() const { return pathField_; }
    QPushButton* okButton() const { return okButton_; }
    // The port that OK switches to: the typed path if there is one, else
    // the selected entry; nothing when neither is there.
    std::optional<PortTarget> SelectedPort() const;

    // OK: pauses the link, reopens the port, reports a failure, records the
    // port in the main window whatever the outcome and resumes the link.
    // Without a port chosen it does nothing.
    void accept() override;

private:
    static constexpr int kWidthUnits = 132;
    static constexpr int kHeightUnits = 49;

    void OnInitDialog();
    void WidenForTheEntries();

    MainWindow& window_;
    QComboBox* portList_ = nullptr;
    QLineEdit* pathField_ = nullptr;
    QPushButton* okButton_ = nullptr;
    // What each list entry stands for, by index.
    std::vector<PortTarget> entries_;
};

} // namespace quillon
