#include <cerrno>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "serial/serial_port.h"
#include "serial/virtual_port.h"
#include "tests/ui/ui_fakes.h"
#include "ui/port_control.h"

namespace quillon::testing {
namespace {

const QString kStartMessage = QStringLiteral("Error Initialising %1\r\nCheck correct COM port has been selected");

struct ReasonCase {
    int error;
    QString line;
};

TEST(PortFailureTest, SecondLineSaysWhyInPlainWordsAndHowToMendIt)
{
    QTemporaryDir devices;
    for (const char* name : {"ttyS1", "ttyUSB0"}) {
        QFile file(devices.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QTemporaryDir empty;
    const PortTarget target = PortTarget::Device(devices.filePath(QStringLiteral("ttyUSB7")));
    const QString message = kStartMessage.arg(target.path);
    const ReasonCase cases[] = {
        {0, QString()},
        {EACCES, QStringLiteral("Permission denied: serial ports are for members of the dialout group. Join it with "
                                "\"sudo usermod -aG dialout $USER\", then log out and in again.")},
        {EBUSY, QStringLiteral("The port is in use by another program.")},
        {ENOENT, QStringLiteral("There is no such device. Serial devices found: %1, %2.")
                     .arg(devices.filePath(QStringLiteral("ttyUSB0")), devices.filePath(QStringLiteral("ttyS1")))},
        {ENOTTY, QStringLiteral("This is not a serial device.")},
        {EIO, QStringLiteral("The system says: Input/output error.")},
    };
    for (const ReasonCase& c : cases) {
        EXPECT_EQ(PortFailureMessage(message, c.error, target, devices.path()),
                  c.line.isEmpty() ? message : message + QStringLiteral("\r\n") + c.line)
            << c.error;
    }
    EXPECT_EQ(PortFailureMessage(message, ENODEV, target, empty.path()),
              message + QStringLiteral("\r\nThere is no such device, and no serial device was found on this machine."));
}

TEST(PortFailureTest, MissingDeviceAtStartUpIsExplainedBelowTheMessage)
{
    QTemporaryDir dir;
    SettingsSandbox settings;
    PanelRig rig;
    SerialPort serialPort;
    SerialPortControl control(serialPort, nullptr);
    RecordingMessages messages;
    const PortTarget missing = PortTarget::Device(dir.filePath(QStringLiteral("ttyUSB9")));
    MainWindow window(WindowContext{rig.host, control, messages, missing, dir.path()});
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].second,
              kStartMessage.arg(missing.path) +
                  QStringLiteral("\r\nThere is no such device, and no serial device was found on this machine."));
}

TEST(PortFailureTest, StoredComNumberThatNamesNoPortIsTriedAndNamedInTheMessage)
{
    for (const int number : {0, -3}) {
        QTemporaryDir dir;
        SettingsSandbox settings;
        settings.Write({{"Save Settings", 1}, {"COM", number}, {"Synch Required", 0}});
        PanelRig rig;
        SerialPort serialPort;
        SerialPortControl control(serialPort, nullptr);
        RecordingMessages messages;
        MainWindow window(WindowContext{rig.host, control, messages, std::nullopt, dir.path()});
        EXPECT_EQ(window.GetComPort(), number);
        ASSERT_EQ(messages.shown.size(), 1u) << number;
        EXPECT_TRUE(messages.shown[0].second.startsWith(kStartMessage.arg(QStringLiteral("COM Port%1").arg(number))))
            << messages.shown[0].second.toStdString();
    }
}

TEST(PortFailureTest, PortHeldByAProcessNamesIt)
{
    VirtualPort held;
    ASSERT_TRUE(held.Create()) << held.ErrorText();
    const int holder = open(held.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    SerialPort serialPort;
    SerialPortControl control(serialPort, nullptr);
    const PortTarget target = PortTarget::Device(QString::fromStdString(held.DevicePath()));
    EXPECT_EQ(control.Open(target), 1);
    EXPECT_EQ(control.lastOpenError(), EWOULDBLOCK);
    QFile comm(QStringLiteral("/proc/self/comm"));
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    const QString self = QString::fromLocal8Bit(comm.readAll()).trimmed();
    EXPECT_EQ(PortFailureMessage(QStringLiteral("Error"), control.lastOpenError(), target, QString()),
              QStringLiteral("Error\r\nThe port is in use by %1 (process %2).")
                  .arg(self, QString::number(QCoreApplication::applicationPid())));
    close(holder);

    EXPECT_EQ(control.Open(target), 0);
    EXPECT_EQ(control.lastOpenError(), 0);
}

} // namespace
} // namespace quillon::testing
