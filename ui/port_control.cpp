#include "ui/port_control.h"

#include <QFile>

#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "ui/comms_port_dialog.h"

namespace quillon {

namespace {

// A virtual port that does not exist fails where a missing device would.
constexpr int kMissingVirtualPortStep = 1;

} // namespace

QString PortFailureMessage(const QString& message, int error, const PortTarget& target, const QString& deviceDirectory)
{
    const QString reason = PortFailureReason(error, target, deviceDirectory);
    return reason.isEmpty() ? message : message + QStringLiteral("\r\n") + reason;
}

QString PortTarget::DevicePath() const
{
    return kind == Kind::ComNumber ? QFile::decodeName(ComPortPath(number).c_str()) : path;
}

QString PortTarget::Describe() const
{
    switch (kind) {
    case Kind::ComNumber:
        return QStringLiteral("COM Port%1").arg(number);
    case Kind::DevicePath:
        return path;
    case Kind::Virtual:
        return QStringLiteral("virtual port %1").arg(path);
    }
    return path;
}

SerialPortControl::SerialPortControl(SerialPort& port, const VirtualPort* virtualPort)
    : port_(port), virtualPort_(virtualPort)
{
}

PanelPort& SerialPortControl::Port()
{
    return port_;
}

int SerialPortControl::Open(const PortTarget& target)
{
    port_.Close();
    reopenPath_.clear();
    openError_ = 0;
    int step = kMissingVirtualPortStep;
    switch (target.kind) {
    case PortTarget::Kind::ComNumber:
    case PortTarget::Kind::DevicePath:
        step = port_.OpenCommPort(QFile::encodeName(target.DevicePath()).toStdString());
        if (step == 0) {
            reopenPath_ = QFile::encodeName(target.DevicePath()).toStdString();
        }
        break;
    case PortTarget::Kind::Virtual:
        if (virtualPort_ == nullptr) {
            return kMissingVirtualPortStep;
        }
        step = port_.OpenVirtualPort(*virtualPort_);
        break;
    }
    if (step != 0) {
        openError_ = port_.lastOpenError();
    }
    if (tell_) {
        tell_(step == 0 ? PortChange::Opened : PortChange::OpenFailed,
              step == 0 ? static_cast<int>(port_.droppedOnOpen()) : step);
    }
    return step;
}

void SerialPortControl::Close()
{
    reopenPath_.clear();
    port_.Close();
}

} // namespace quillon
