#include "ui/port_control.h"

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "ui/comms_port_dialog.h"

namespace quillon {

namespace {

// A virtual port that does not exist fails where a missing device would.
constexpr int kMissingVirtualPortStep = 1;

// The group that may use serial devices on Debian and its relatives.
const QString kSerialGroup = QStringLiteral("dialout");

QString DevicePathOf(const PortTarget& target)
{
    return target.kind == PortTarget::Kind::ComNumber ? QFile::decodeName(ComPortPath(target.number).c_str())
                                                      : target.path;
}

// The processes that have the device open, as "name (process 42)"; only
// those the system lets this user look into.
QStringList ProcessesHolding(const QString& devicePath)
{
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    QStringList holders;
    if (device.isEmpty()) {
        return holders;
    }
    const QDir processes(QStringLiteral("/proc"));
    for (const QString& pid : processes.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric) {
            continue;
        }
        const QDir descriptors(processes.filePath(pid + QStringLiteral("/fd")));
        for (const QString& fd : descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(descriptors.filePath(fd)) == device) {
                QFile comm(processes.filePath(pid + QStringLiteral("/comm")));
                const QString name =
                    comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
                holders << QStringLiteral("%1 (process %2)").arg(name.isEmpty() ? QStringLiteral("?") : name, pid);
                break;
            }
        }
    }
    return holders;
}

QString FailureReason(int error, const PortTarget& target, const QString& deviceDirectory)
{
    const QString path = DevicePathOf(target);
    switch (error) {
    case 0:
        return {};
    case EACCES:
    case EPERM: {
        // The device's own group is the one to join where the system is not
        // set up the Debian way.
        const QString group = QFileInfo(path).group();
        const QString join = group.isEmpty() || group == QStringLiteral("root") ? kSerialGroup : group;
        return QStringLiteral("Permission denied: serial ports are for members of the %1 group. Join it with "
                              "\"sudo usermod -aG %1 $USER\", then log out and in again.")
            .arg(join);
    }
    case EBUSY:
    case EWOULDBLOCK: {
        const QStringList holders = ProcessesHolding(path);
        if (holders.isEmpty()) {
            return QStringLiteral("The port is in use by another program.");
        }
        return QStringLiteral("The port is in use by %1.").arg(holders.join(QStringLiteral(", ")));
    }
    case ENOENT:
    case ENODEV:
    case ENXIO: {
        const QStringList devices = FindSerialDevices(deviceDirectory);
        if (devices.isEmpty()) {
            return QStringLiteral("There is no such device, and no serial device was found on this machine.");
        }
        return QStringLiteral("There is no such device. Serial devices found: %1.")
            .arg(devices.join(QStringLiteral(", ")));
    }
    case ENOTTY:
        return QStringLiteral("This is not a serial device.");
    default:
        return QStringLiteral("The system says: %1.").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace

QString PortFailureMessage(const QString& message, int error, const PortTarget& target, const QString& deviceDirectory)
{
    const QString reason = FailureReason(error, target, deviceDirectory);
    return reason.isEmpty() ? message : message + QStringLiteral("\r\n") + reason;
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
    openError_ = 0;
    int step = kMissingVirtualPortStep;
    switch (target.kind) {
    case PortTarget::Kind::ComNumber:
    case PortTarget::Kind::DevicePath:
        step = port_.OpenCommPort(QFile::encodeName(DevicePathOf(target)).toStdString());
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
    return step;
}

void SerialPortControl::Close()
{
    port_.Close();
}

} // namespace quillon
