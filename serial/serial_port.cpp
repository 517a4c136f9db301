#include "serial/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "serial/port_setup.h"
#include "serial/virtual_port.h"

namespace quillon {

namespace {

constexpr tcflag_t kFramingBits = CSIZE | PARENB | CSTOPB | CRTSCTS;

// Devices without modem lines or serial-driver settings (pseudo-terminals,
// some USB adapters) refuse those requests; for them that is no fault.
bool IsUnsupportedRequest(int error)
{
    return error == ENOTTY || error == EINVAL;
}

bool SetModemLine(int fd, unsigned long request, int line)
{
    return ioctl(fd, request, &line) == 0 || IsUnsupportedRequest(errno);
}

// USB adapters hold small packets back for up to 16 ms unless asked for low
// latency, longer than a supervisor tick. A driver that refuses keeps its own
// timing; the link still works, only answers later.
void AskForLowLatency(int fd)
{
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
}

// Steps 2 and 3: 9600 baud, 8N1, raw bytes, no flow control, RTS on, DTR off.
int ConfigureLine(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return kReadSettingsStep;
    }
    cfmakeraw(&settings);
    settings.c_cflag &= ~kFramingBits;
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (cfsetispeed(&settings, B9600) != 0 || cfsetospeed(&settings, B9600) != 0 ||
        tcsetattr(fd, TCSANOW, &settings) != 0) {
        return kWriteSettingsStep;
    }
    // tcsetattr reports success when any one change took; the link needs the
    // speed and the framing exactly.
    termios applied{};
    if (tcgetattr(fd, &applied) != 0 || cfgetospeed(&applied) != B9600 || cfgetispeed(&applied) != B9600 ||
        (applied.c_cflag & kFramingBits) != CS8) {
        return kWriteSettingsStep;
    }
    if (!SetModemLine(fd, TIOCMBIS, TIOCM_RTS) || !SetModemLine(fd, TIOCMBIC, TIOCM_DTR)) {
        return kWriteSettingsStep;
    }
    AskForLowLatency(fd);
    return 0;
}

// Steps 4 and 5: reads return at once with whatever is queued (the reader
// reads only after it has seen bytes waiting); the write bound lives in Write.
int ConfigureTimeouts(int fd)
{
    termios settings{};
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || tcgetattr(fd, &settings) != 0) {
        return kReadTimeoutsStep;
    }
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return kWriteTimeoutsStep;
    }
    return 0;
}

void ReleaseDescriptor(int fd)
{
    // After a failed set-up step errno holds the reason for the caller; the
    // release keeps it.
    const int reason = errno;
    // Exclusive mode outlives the descriptor on some terminals; clear it so
    // the next open of the same device is not turned away.
    ioctl(fd, TIOCNXCL);
    close(fd);
    errno = reason;
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

bool HasHungUp(const pollfd& entry)
{
    return (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace

SerialPort::SerialPort() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

SerialPort::~SerialPort()
{
    Close();
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

int SerialPort::OpenCommPort(const std::string& devicePath)
{
    Close();
    errno = 0;
    const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Failed(kOpenStep);
    }
    // Exclusive use: TIOCEXCL turns away later opens of the terminal by anyone
    // but root, and the lock turns away every other opener that asks for it,
    // root included. A file that is no terminal fails at step 2.
    if ((ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ReleaseDescriptor(fd);
        return Failed(kOpenStep);
    }
    return Adopt(fd);
}

int SerialPort::OpenVirtualPort(const VirtualPort& port)
{
    Close();
    errno = 0;
    const int fd = fcntl(port.EmulatorDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        return Failed(kOpenStep);
    }
    return Adopt(fd);
}

int SerialPort::Failed(int step)
{
    openError_ = errno;
    return step;
}

int SerialPort::Adopt(int fd)
{
    int step = ConfigureLine(fd);
    if (step == 0) {
        step = ConfigureTimeouts(fd);
    }
    if (step != 0) {
        ReleaseDescriptor(fd);
        return Failed(step);
    }
    openError_ = 0;
    {
        std::lock_guard lock(mutex_);
        fd_ = fd;
        ++generation_;
    }
    changed_.notify_all();
    return 0;
}

void SerialPort::Close()
{
    int fd = -1;
    {
        std::unique_lock lock(mutex_);
        if (fd_ < 0) {
            return;
        }
        fd = std::exchange(fd_, -1);
        ++generation_;
        if (borrowers_ > 0) {
            eventfd_write(wakeFd_, 1);
            changed_.wait(lock, [this] { return borrowers_ == 0; });
            eventfd_t signals = 0;
            eventfd_read(wakeFd_, &signals);
        }
    }
    changed_.notify_all();
    ReleaseDescriptor(fd);
}

bool SerialPort::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

bool SerialPort::HungUp() const
{
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        return false;
    }
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, 0) > 0 && HasHungUp(entry);
}

int SerialPort::Borrow()
{
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ++borrowers_;
    }
    return fd_;
}

void SerialPort::GiveBack()
{
    {
        std::lock_guard lock(mutex_);
        --borrowers_;
    }
    changed_.notify_all();
}

bool SerialPort::BytesWaiting(std::size_t& count)
{
    std::lock_guard lock(mutex_);
    int queued = 0;
    if (fd_ < 0 || ioctl(fd_, FIONREAD, &queued) != 0) {
        return false;
    }
    count = static_cast<std::size_t>(queued);
    return true;
}

bool SerialPort::ReadByte(std::uint8_t& byte)
{
    std::lock_guard lock(mutex_);
    return fd_ >= 0 && read(fd_, &byte, 1) == 1;
}

bool SerialPort::Write(const std::uint8_t* data, std::size_t length)
{
    const auto deadline = std::chrono::steady_clock::now() + WriteTimeout(length);
    const int fd = Borrow();
    if (fd < 0) {
        return false;
    }
    std::size_t sent = 0;
    while (sent < length) {
        pollfd entries[2]{{fd, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = poll(entries, 2, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        // A hung-up line (the far end of a pseudo-terminal closed, an adapter
        // pulled) takes nothing: fail now rather than queue bytes for nobody.
        if (ready <= 0 || HasHungUp(entries[0]) || entries[1].revents != 0) {
            break;
        }
        const ssize_t written = write(fd, data + sent, length - sent);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    GiveBack();
    return sent == length;
}

void SerialPort::WaitForInput(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint64_t generation = 0;
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
        fd = fd_;
        if (fd >= 0) {
            ++borrowers_;
        }
    }
    if (fd >= 0) {
        pollfd entries[2]{{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = poll(entries, 2, timeoutMs);
        int queued = 0;
        const bool input =
            ready > 0 && (entries[0].revents & POLLIN) != 0 && ioctl(fd, FIONREAD, &queued) == 0 && queued > 0;
        const bool closing = ready > 0 && entries[1].revents != 0;
        GiveBack();
        if (ready == 0 || input || closing) {
            return;
        }
    }
    // No port, or a line that reports a hang-up or an error instead of data:
    // poll would return at once on every call, so sleep out the wait instead,
    // but wake up as soon as a port is opened or closed.
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return generation_ != generation; });
}

} // namespace quillon
