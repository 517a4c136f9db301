// Serial devices on Linux: the device files a USB adapter or a built-in port
// makes, and what the system's error codes mean for someone opening one.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include "ui/comms_port_dialog.h"
#include "ui/port_control.h"

namespace quillon {

namespace {

// The group that may use serial devices on Debian and its relatives.
const QString kSerialGroup = QStringLiteral("dialout");

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

} // namespace

QStringList FindSerialDevices(const QString& directory)
{
    static const QRegularExpression kPattern(QStringLiteral("^tty(USB|ACM|S)(\\d+)$"));
    static const QStringList kKinds{QStringLiteral("USB"), QStringLiteral("ACM"), QStringLiteral("S")};
    struct Found {
        qsizetype kind;
        qulonglong number;
        QString name;
    };
    std::vector<Found> found;
    const QDir dir(directory);
    for (const QString& name : dir.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = kPattern.match(name);
        if (match.hasMatch()) {
            found.push_back({kKinds.indexOf(match.captured(1)), match.captured(2).toULongLong(), name});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.kind != b.kind ? a.kind < b.kind : a.number < b.number; });
    QStringList paths;
    for (const Found& device : found) {
        paths << dir.filePath(device.name);
    }
    return paths;
}

QString FoundDeviceEntry(const QString& device)
{
    return device;
}

QString DevicePathHint()
{
    return QStringLiteral("Device path");
}

QString PortFailureReason(int error, const PortTarget& target, const QString& deviceDirectory)
{
    const QString path = target.DevicePath();
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

} // namespace quillon
