#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "serial/serial_port.h"
#include "serial/virtual_port.h"

namespace quillon::testing {
namespace {

// Another program holds the device's lock without exclusive mode. The port
// that gives way must not leave the terminal exclusive behind it, or the
// next opener other than root would be turned away for good.
TEST(PortLockTest, APortThatFindsTheDeviceLockedLeavesItOpenToOthers)
{
    VirtualPort line;
    ASSERT_TRUE(line.Create()) << line.ErrorText();
    const int holder = open(line.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    SerialPort port;
    EXPECT_EQ(port.OpenCommPort(line.DevicePath()), 1);
    EXPECT_FALSE(port.IsOpen());
    int exclusive = -1;
    ASSERT_EQ(ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(holder);
}

} // namespace
} // namespace quillon::testing
