#include "ui/port_control.h"

#include <QFile>

#include "serial/serial_port.h"
#include "serial/virtual_port.h"

namespace quillon {

namespace {

// A virtual port that does not exist fails where a missing device would.
constexpr int kOpenStep = 1;

} // namespace

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
    switch (target.kind) {
    case PortTarget::Kind::ComNumber:
        return port_.OpenCommPort(ComPortPath(target.number));
    case PortTarget::Kind::DevicePath:
        return port_.OpenCommPort(QFile::encodeName(target.path).toStdString());
    case PortTarget::Kind::Virtual:
        return virtualPort_ != nullptr ? port_.OpenVirtualPort(*virtualPort_) : kOpenStep;
    }
    return kOpenStep;
}

void SerialPortControl::Close()
{
    port_.Close();
}

} // namespace quillon
