#pragma once

#include <functional>
#include <string>
#include <utility>

#include <QString>

#include "link/engine_interfaces.h"
#include "link/link_events.h"

namespace quillon {

class SerialPort;
class VirtualPort;

// Which port the link talks through: a COM number (COM n is /dev/ttyS{n-1}),
// any device path, or the virtual port made for this run.
struct PortTarget {
    enum class Kind { ComNumber, DevicePath, Virtual };

    static PortTarget Com(int number) { return {Kind::ComNumber, number, {}}; }
    static PortTarget Device(const QString& path) { return {Kind::DevicePath, 0, path}; }
    // path is the one the device opens, shown to the user only.
    static PortTarget Virtual(const QString& path) { return {Kind::Virtual, 0, path}; }

    // How the port is named in messages: "COM Port7", "/dev/ttyUSB0",
    // "virtual port /dev/pts/3".
    QString Describe() const;
    // What the serial port opens: the system's path of a COM number, or the
    // path itself.
    QString DevicePath() const;

    bool operator==(const PortTarget&) const = default;

    Kind kind = Kind::ComNumber;
    int number = 1;
    QString path;
};

// The link's serial port as the main frame and the Comms Port dialog drive
// it. The link itself only ever sees Port().
class PortControl {
public:
    virtual ~PortControl() = default;
    virtual PanelPort& Port() = 0;
    // Closes whatever is open and opens target with the port's five set-up
    // steps. Returns 0 on success, otherwise the number of the failed step.
    virtual int Open(const PortTarget& target) = 0;
    virtual void Close() = 0;
    // Why the last Open failed, as the system said it (an errno value); 0
    // when it is not known.
    virtual int lastOpenError() const { return 0; }
};

// The message about a port that could not be opened: the given text, and
// when the system said why, a line more with the reason in plain words and
// the fix where there is one. deviceDirectory is where the serial devices
// found are listed from.
QString PortFailureMessage(const QString& message, int error, const PortTarget& target, const QString& deviceDirectory);

// The reason for that message alone: empty when error is 0. Each system has
// its own error codes and its own fixes.
QString PortFailureReason(int error, const PortTarget& target, const QString& deviceDirectory);

class SerialPortControl final : public PortControl {
public:
    // virtualPort is the pseudo-terminal made for this run, or null.
    SerialPortControl(SerialPort& port, const VirtualPort* virtualPort);

    PanelPort& Port() override;
    int Open(const PortTarget& target) override;
    void Close() override;
    int lastOpenError() const override { return openError_; }
    // Told of each open, with the set-up step that failed, or for an open
    // that succeeded the stale bytes the port dropped.
    void SetTell(std::function<void(PortChange, int)> tell) { tell_ = std::move(tell); }
    // The serial device last opened, to open again after a hang-up; empty
    // for a virtual port or once closed.
    const std::string& reopenPath() const { return reopenPath_; }

private:
    SerialPort& port_;
    std::string reopenPath_;
    std::function<void(PortChange, int)> tell_;
    const VirtualPort* virtualPort_;
    int openError_ = 0;
};

} // namespace quillon
