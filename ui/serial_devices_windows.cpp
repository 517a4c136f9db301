// Serial devices on Windows: the COM ports the system has, and what its error
// codes mean for someone opening one.
#include <algorithm>
#include <vector>

#include <windows.h>

#include <QSettings>
#include <QStringList>

#include "serial/port_setup.h"
#include "ui/comms_port_dialog.h"
#include "ui/port_control.h"

namespace quillon {

// Every COM port the system knows of is a value of this key, named for the
// driver's device and holding the port's name ("COM3").
QStringList FindSerialDevices(const QString&)
{
    const QSettings map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"), QSettings::NativeFormat);
    std::vector<int> numbers;
    for (const QString& key : map.childKeys()) {
        if (const auto number = ComPortNumber(map.value(key).toString().toStdString())) {
            numbers.push_back(*number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    QStringList ports;
    for (const int number : numbers) {
        ports << QStringLiteral("COM%1").arg(number);
    }
    return ports;
}

QString PortFailureReason(int error, const PortTarget&, const QString& deviceDirectory)
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
    case ERROR_INVALID_NAME: {
        const QStringList ports = FindSerialDevices(deviceDirectory);
        if (ports.isEmpty()) {
            return QStringLiteral("There is no such port, and no COM port was found on this machine.");
        }
        return QStringLiteral("There is no such port. COM ports found: %1.").arg(ports.join(QStringLiteral(", ")));
    }
    default:
        return QStringLiteral("Windows says: %1.").arg(QString::fromStdString(SystemErrorText(error)));
    }
}

} // namespace quillon
