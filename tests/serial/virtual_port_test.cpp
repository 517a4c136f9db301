#include "serial/virtual_port.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "serial/serial_port.h"
#include "tests/serial/pty_pair.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::WaitUntil;
using Bytes = std::vector<std::uint8_t>;

// A device program on the far end of a virtual port: opens the path it was
// told and leaves the line settings as it finds them.
class Device {
public:
    explicit Device(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Device() { Close(); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void Close()
    {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    void Send(const Bytes& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), std::ssize(bytes)); }
    Bytes Receive(std::size_t count)
    {
        Bytes received;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            poll(&entry, 1, 10);
            std::uint8_t byte = 0;
            while (read(fd_, &byte, 1) == 1) {
                received.push_back(byte);
            }
        }
        return received;
    }
    std::size_t Queued() const
    {
        int queued = 0;
        return ioctl(fd_, FIONREAD, &queued) == 0 ? static_cast<std::size_t>(queued) : 0;
    }

private:
    int fd_;
};

Bytes ReadAvailable(SerialPort& port)
{
    Bytes bytes;
    std::uint8_t byte = 0;
    while (port.ReadByte(byte)) {
        bytes.push_back(byte);
    }
    return bytes;
}

Bytes ReceiveOnPort(SerialPort& port, std::size_t count)
{
    Bytes received;
    WaitUntil([&] {
        const auto more = ReadAvailable(port);
        received.insert(received.end(), more.begin(), more.end());
        return received.size() >= count;
    });
    return received;
}

class VirtualPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quillon-vport-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
    }
    void TearDown() override { fs::remove_all(directory_); }

    fs::path directory_;
};

TEST_F(VirtualPortTest, TheDeviceEndIsATerminalInRaw9600)
{
    VirtualPort virtualPort;
    ASSERT_TRUE(virtualPort.Create()) << virtualPort.ErrorText();
    EXPECT_EQ(virtualPort.PathForDevice(), virtualPort.DevicePath());

    Device device(virtualPort.DevicePath());
    ASSERT_TRUE(device.IsOpen());
    EXPECT_TRUE(isatty(device.fd()));
    termios settings{};
    ASSERT_EQ(tcgetattr(device.fd(), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), B9600);
    EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
}

TEST_F(VirtualPortTest, TheLinkLeadsToTheDeviceEndAndGoesWithThePort)
{
    const fs::path link = directory_ / "panel";
    std::string devicePath;
    {
        VirtualPort virtualPort;
        ASSERT_TRUE(virtualPort.Create(link.string())) << virtualPort.ErrorText();
        devicePath = virtualPort.DevicePath();
        EXPECT_EQ(virtualPort.PathForDevice(), link.string());
        EXPECT_EQ(fs::read_symlink(link), fs::path(devicePath));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(VirtualPortTest, AStaleLinkIsReplacedButNoOtherFile)
{
    const fs::path link = directory_ / "panel";
    fs::create_symlink("/dev/pts/quillon-gone", link);
    {
        VirtualPort virtualPort;
        ASSERT_TRUE(virtualPort.Create(link.string())) << virtualPort.ErrorText();
        EXPECT_EQ(fs::read_symlink(link), fs::path(virtualPort.DevicePath()));
    }

    const fs::path file = directory_ / "notes";
    std::ofstream(file) << "keep me";
    VirtualPort virtualPort;
    EXPECT_FALSE(virtualPort.Create(file.string()));
    EXPECT_NE(virtualPort.ErrorText().find(file.string()), std::string::npos) << virtualPort.ErrorText();
    EXPECT_EQ(virtualPort.EmulatorDescriptor(), -1);
    std::string content;
    std::getline(std::ifstream(file), content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(VirtualPortTest, ALinkTakenOverByAnotherRunIsLeftAlone)
{
    const fs::path link = directory_ / "panel";
    std::optional<VirtualPort> older;
    older.emplace();
    ASSERT_TRUE(older->Create(link.string()));
    VirtualPort newer;
    ASSERT_TRUE(newer.Create(link.string()));
    older.reset();
    EXPECT_EQ(fs::read_symlink(link), fs::path(newer.DevicePath())) << "the older port must not remove the newer link";
}

TEST_F(VirtualPortTest, AnUncreatedPortCannotBeOpened)
{
    VirtualPort virtualPort;
    SerialPort port;
    EXPECT_EQ(port.OpenVirtualPort(virtualPort), 1);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(VirtualPortTest, BytesFlowUnchangedAndNothingEchoesBack)
{
    VirtualPort virtualPort;
    ASSERT_TRUE(virtualPort.Create((directory_ / "panel").string()));
    SerialPort port;
    ASSERT_EQ(port.OpenVirtualPort(virtualPort), 0);
    Device device(virtualPort.PathForDevice());
    ASSERT_TRUE(device.IsOpen());

    const Bytes block{0x01, 0x03, 0x00, 0x0D, 0x0A, 0x5F, 0x85, 0x01, 0x11, 0x97};
    device.Send(block);
    EXPECT_EQ(ReceiveOnPort(port, block.size()), block);

    const Bytes reply{0x05, 0x01, 0x13, 0x1A};
    ASSERT_TRUE(port.Write(reply.data(), reply.size()));
    EXPECT_EQ(device.Receive(reply.size()), reply);
    std::size_t waiting = 1;
    ASSERT_TRUE(port.BytesWaiting(waiting));
    EXPECT_EQ(waiting, 0u) << "the reply must not come back as input";
}

TEST_F(VirtualPortTest, TheLineIsDeadWhileNoDeviceIsThereAndLivesAgainWhenOneComes)
{
    VirtualPort virtualPort;
    ASSERT_TRUE(virtualPort.Create());
    SerialPort port;
    ASSERT_EQ(port.OpenVirtualPort(virtualPort), 0);

    // No device yet: the wait does not return at once, and replies are
    // refused rather than kept for whoever opens the line later.
    int waits = 0;
    const auto end = std::chrono::steady_clock::now() + 200ms;
    while (std::chrono::steady_clock::now() < end) {
        port.WaitForInput(20);
        ++waits;
    }
    EXPECT_LE(waits, 11);
    const Bytes stale{0x05, 0x01, 0x01, 0x08};
    EXPECT_FALSE(port.Write(stale.data(), stale.size()));

    for (int visit = 0; visit < 2; ++visit) {
        Device device(virtualPort.DevicePath());
        ASSERT_TRUE(device.IsOpen());
        EXPECT_EQ(device.Queued(), 0u) << "visit " << visit;
        device.Send({0x85, 0x01, 0x00, 0x87});
        EXPECT_EQ(ReceiveOnPort(port, 4), (Bytes{0x85, 0x01, 0x00, 0x87}));
        const Bytes reply{0x05, 0x01, 0x00, 0x07};
        ASSERT_TRUE(port.Write(reply.data(), reply.size()));
        EXPECT_EQ(device.Receive(4), reply);
        device.Close();
        EXPECT_FALSE(port.Write(stale.data(), stale.size())) << "visit " << visit;
    }
}

TEST_F(VirtualPortTest, ClosingAndReopeningTheEmulatorEndKeepsTheDevice)
{
    VirtualPort virtualPort;
    ASSERT_TRUE(virtualPort.Create());
    Device device(virtualPort.DevicePath());
    SerialPort port;
    ASSERT_EQ(port.OpenVirtualPort(virtualPort), 0);
    port.Close();
    ASSERT_EQ(port.OpenVirtualPort(virtualPort), 0);
    device.Send({0x85, 0x01, 0x00, 0x87});
    EXPECT_EQ(ReceiveOnPort(port, 4), (Bytes{0x85, 0x01, 0x00, 0x87}));
}

} // namespace
} // namespace quillon
