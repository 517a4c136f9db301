#include "serial/virtual_port.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quillon {

namespace {

// The device end starts as the emulator's own end will be set: raw 9600 8N1.
// A terminal's default cooked mode would echo every reply back to the
// emulator as received bytes and hold input back until a line end. Returns 0
// or the error number.
int MakeDeviceEndRaw(const std::string& devicePath)
{
    const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    termios settings{};
    int error = 0;
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        settings.c_cflag &= ~(CSTOPB | CRTSCTS);
        if (cfsetspeed(&settings, B9600) != 0 || tcsetattr(fd, TCSANOW, &settings) != 0) {
            error = errno;
        }
    } else {
        error = errno;
    }
    // Closing our only descriptor of the device end leaves the line dead to
    // the emulator until a device opens it, so replies meant for nobody are
    // refused instead of piling up for the next device to read.
    close(fd);
    return error;
}

} // namespace

VirtualPort::~VirtualPort()
{
    Release();
}

bool VirtualPort::Create(const std::string& linkPath)
{
    Release();
    error_.clear();
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd_ < 0) {
        return Fail("Cannot create a pseudo-terminal", errno);
    }
    std::array<char, PATH_MAX> name{};
    if (grantpt(masterFd_) != 0 || unlockpt(masterFd_) != 0 || ptsname_r(masterFd_, name.data(), name.size()) != 0) {
        return Fail("Cannot prepare the pseudo-terminal", errno);
    }
    devicePath_ = name.data();
    if (const int error = MakeDeviceEndRaw(devicePath_); error != 0) {
        return Fail("Cannot set up " + devicePath_, error);
    }
    if (linkPath.empty()) {
        return true;
    }
    struct stat existing {};
    if (lstat(linkPath.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            return Fail(linkPath + " exists and is not a symbolic link", EEXIST);
        }
        if (unlink(linkPath.c_str()) != 0) {
            return Fail("Cannot replace " + linkPath, errno);
        }
    }
    if (symlink(devicePath_.c_str(), linkPath.c_str()) != 0) {
        return Fail("Cannot create the symbolic link " + linkPath, errno);
    }
    linkPath_ = linkPath;
    return true;
}

bool VirtualPort::Fail(const std::string& what, int error)
{
    error_ = what + ": " + std::error_code(error, std::generic_category()).message();
    Release();
    return false;
}

void VirtualPort::Release()
{
    if (!linkPath_.empty()) {
        // Remove the link only while it still leads here: another run may
        // have taken the name over since.
        std::array<char, PATH_MAX> target{};
        const ssize_t length = readlink(linkPath_.c_str(), target.data(), target.size());
        if (length >= 0 && devicePath_ == std::string(target.data(), static_cast<std::size_t>(length))) {
            unlink(linkPath_.c_str());
        }
        linkPath_.clear();
    }
    if (masterFd_ >= 0) {
        close(masterFd_);
        masterFd_ = -1;
    }
    devicePath_.clear();
}

} // namespace quillon
