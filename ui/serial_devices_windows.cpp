// Serial devices on Windows: the COM ports the system has, and what its error
// codes mean for someone opening one.
#include <windows.h>

#include <QStringList>

#include "serial/com_ports.h"
#include "serial/port_setup.h"
#include "ui/comms_port_dialog.h"
#include "ui/port_control.h"

namespace quillon {

QStringList FindSerialDevices(const QString&)
{
    QStringList ports;
    for (const int number : FoundComPorts()) {
        ports << QStringLiteral("COM%1").arg(number);
    }
    return ports;
}

QString FoundDeviceEntry(const QString& device)
{
    return QStringLiteral("%1: (on this PC)").arg(device);
}

QString DevicePathHint()
{
    return QStringLiteral("\\\\.\\COM7 or COM7");
}

QString PortFailureReason(int error, const PortTarget&, const QString&)
{
    switch (error) {
    case 0:
        return {};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        // Windows hands a COM port to one program at a time and does not say
        // which one has it.
        return QStringLiteral("The port is in use by another program. Close the program that has it open, then "
                              "choose the port again.");
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return QString::fromStdString(MissingPortText(FoundComPorts()));
    default:
        return QStringLiteral("Windows says: %1.").arg(QString::fromStdString(SystemErrorText(error)));
    }
}

} // namespace quillon
