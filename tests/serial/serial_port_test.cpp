#include "serial/serial_port.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "tests/serial/pty_pair.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::WaitUntil;
using SteadyClock = std::chrono::steady_clock;

std::vector<std::uint8_t> ReadAll(SerialPort& port)
{
    std::vector<std::uint8_t> bytes;
    std::uint8_t byte = 0;
    while (port.ReadByte(byte)) {
        bytes.push_back(byte);
    }
    return bytes;
}

bool WriteBytes(SerialPort& port, const std::vector<std::uint8_t>& bytes)
{
    return port.Write(bytes.data(), bytes.size());
}

// How many calls of WaitForInput(waitMs) fit in the given time. A port that
// returns at once while nothing can be read fits thousands.
int WaitsWithin(SerialPort& port, int waitMs, std::chrono::milliseconds span)
{
    int calls = 0;
    const auto end = SteadyClock::now() + span;
    while (SteadyClock::now() < end) {
        port.WaitForInput(waitMs);
        ++calls;
    }
    return calls;
}

// Fills the line's output queue through the test's own descriptor of the
// port's end, until it stays full: the terminal moves queued bytes on in the
// background, so the first refusal may free room again.
std::size_t FillOutputQueue(int fd)
{
    fcntl(fd, F_SETFL, O_NONBLOCK);
    const std::vector<std::uint8_t> filler(64, 0x55);
    std::size_t filled = 0;
    pollfd entry{fd, POLLOUT, 0};
    do {
        ssize_t written = 0;
        while ((written = write(fd, filler.data(), filler.size())) > 0) {
            filled += static_cast<std::size_t>(written);
        }
    } while (poll(&entry, 1, 50) > 0);
    return filled;
}

std::vector<std::uint8_t> EveryByteValue()
{
    std::vector<std::uint8_t> bytes(256);
    for (int value = 0; value < 256; ++value) {
        bytes[value] = static_cast<std::uint8_t>(value);
    }
    return bytes;
}

TEST(ComPortPath, NumbersCountFromOneAndMapToTtyS)
{
    EXPECT_EQ(ComPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(ComPortPath(2), "/dev/ttyS1");
    EXPECT_EQ(ComPortPath(10), "/dev/ttyS9");
    EXPECT_EQ(ComPortPath(256), "/dev/ttyS255");
    // Numbers that name no port still name a path, which fails to open.
    EXPECT_EQ(ComPortPath(0), "/dev/ttyS-1");
    EXPECT_EQ(ComPortPath(-2147483647 - 1), "/dev/ttyS-2147483649");
}

TEST(SerialPortOpen, SetsTheLineTo9600EightNoneOneRaw)
{
    PtyPair pair;
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pair.path()), 0);
    EXPECT_TRUE(port.IsOpen());

    termios settings{};
    ASSERT_EQ(tcgetattr(pair.portSide(), &settings), 0);
    EXPECT_EQ(cfgetispeed(&settings), B9600);
    EXPECT_EQ(cfgetospeed(&settings), B9600);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | INLCR | IGNCR | BRKINT), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 0);
}

TEST(SerialPortOpen, EveryByteValuePassesUnchangedBothWays)
{
    PtyPair pair;
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pair.path()), 0);
    const auto bytes = EveryByteValue();

    pair.Send(bytes);
    std::vector<std::uint8_t> received;
    ASSERT_TRUE(WaitUntil([&] {
        const auto more = ReadAll(port);
        received.insert(received.end(), more.begin(), more.end());
        return received.size() >= bytes.size();
    }));
    EXPECT_EQ(received, bytes);

    ASSERT_TRUE(WriteBytes(port, bytes));
    EXPECT_EQ(pair.Receive(bytes.size()), bytes);
    std::size_t waiting = 1;
    ASSERT_TRUE(port.BytesWaiting(waiting));
    EXPECT_EQ(waiting, 0u) << "nothing written may come back as received";
}

TEST(SerialPortOpen, FailsAtTheStepThatCannotBeDone)
{
    struct Case {
        const char* path;
        int step;
    };
    const Case cases[] = {
        {"/dev/quillon-no-such-device", 1}, // nothing there
        {"/", 1},                           // cannot be opened for reading and writing
        {"/dev/null", 2},                   // opens, but has no line settings
    };
    for (const auto& c : cases) {
        SerialPort port;
        EXPECT_EQ(port.OpenCommPort(c.path), c.step) << c.path;
        EXPECT_FALSE(port.IsOpen()) << c.path;
    }
}

TEST(SerialPortOpen, ASecondOpenerIsTurnedAwayAtStepOne)
{
    PtyPair pair;
    SerialPort first;
    SerialPort second;
    ASSERT_EQ(first.OpenCommPort(pair.path()), 0);
    EXPECT_EQ(second.OpenCommPort(pair.path()), 1);
    EXPECT_FALSE(second.IsOpen());

    // The first opener is unaffected.
    pair.Send({0x42});
    ASSERT_TRUE(WaitUntil([&] {
        std::size_t waiting = 0;
        return first.BytesWaiting(waiting) && waiting == 1;
    }));

    // Once released, the device can be had again, also by the same port.
    first.Close();
    EXPECT_EQ(second.OpenCommPort(pair.path()), 0);
    second.Close();
    EXPECT_EQ(first.OpenCommPort(pair.path()), 0);
    EXPECT_EQ(first.OpenCommPort(pair.path()), 0) << "reopening the port already open succeeds";
}

TEST(SerialPortClosed, ReportsNothingAndWritesFail)
{
    SerialPort port;
    std::size_t waiting = 0;
    std::uint8_t byte = 0;
    const std::uint8_t reply[] = {0x05, 0x01, 0x00, 0x07};
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.BytesWaiting(waiting));
    EXPECT_FALSE(port.ReadByte(byte));
    EXPECT_FALSE(port.Write(reply, sizeof reply));
    EXPECT_LE(WaitsWithin(port, 20, 200ms), 11) << "waiting on a closed port must not return at once";
}

TEST(SerialPortRead, ReturnsAtOnceWithNothingQueued)
{
    PtyPair pair;
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pair.path()), 0);
    std::uint8_t byte = 0;
    std::size_t waiting = 1;
    EXPECT_TRUE(port.BytesWaiting(waiting));
    EXPECT_EQ(waiting, 0u);
    EXPECT_FALSE(port.ReadByte(byte));
}

TEST(SerialPortWait, ReturnsWhenInputArrives)
{
    PtyPair pair;
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pair.path()), 0);
    std::thread device([&] {
        std::this_thread::sleep_for(20ms);
        pair.Send({0x85});
    });
    const auto start = SteadyClock::now();
    port.WaitForInput(10000);
    device.join();
    EXPECT_LT(SteadyClock::now() - start, 5s);
    std::size_t waiting = 0;
    EXPECT_TRUE(port.BytesWaiting(waiting));
    EXPECT_EQ(waiting, 1u);
}

TEST(SerialPortWait, CloseDoesNotWaitForAReaderBlockedInItsWait)
{
    PtyPair pair;
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pair.path()), 0);
    std::thread reader([&] { port.WaitForInput(10000); });
    std::this_thread::sleep_for(20ms);

    const auto start = SteadyClock::now();
    port.Close();
    EXPECT_LT(SteadyClock::now() - start, 5s);
    reader.join();
    EXPECT_LT(SteadyClock::now() - start, 5s);
}

TEST(SerialPortWait, OpeningAPortWakesAReaderWaitingOnNone)
{
    PtyPair pair;
    SerialPort port;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        port.WaitForInput(10000);
        done = true;
    });
    std::this_thread::sleep_for(20ms);
    const auto start = SteadyClock::now();
    ASSERT_EQ(port.OpenCommPort(pair.path()), 0);
    pair.Send({0x01});
    reader.join();
    EXPECT_TRUE(done);
    EXPECT_LT(SteadyClock::now() - start, 5s);
}

TEST(SerialPortWrite, GivesUpAfterItsTimeOutWhenNobodyReads)
{
    PtyPair pair;
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pair.path()), 0);
    // The device end never reads.
    FillOutputQueue(pair.portSide());

    const std::uint8_t reply[] = {0x05, 0x01, 0x00, 0x07};
    const auto start = SteadyClock::now();
    EXPECT_FALSE(port.Write(reply, sizeof reply));
    const auto elapsed = SteadyClock::now() - start;
    EXPECT_GE(elapsed, 140ms) << "4 bytes may take 10 ms each plus 100 ms";
    EXPECT_LT(elapsed, 2s);
}

TEST(SerialPortWrite, FinishesAWriteThatFitsOnlyInParts)
{
    PtyPair pair;
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pair.path()), 0);
    const std::size_t filled = FillOutputQueue(pair.portSide());

    // The device starts reading only once the write has had to wait for room.
    const auto bytes = EveryByteValue();
    std::vector<std::uint8_t> received;
    std::thread device([&] {
        std::this_thread::sleep_for(50ms);
        received = pair.Receive(filled + bytes.size());
    });
    EXPECT_TRUE(port.Write(bytes.data(), bytes.size()));
    device.join();
    ASSERT_EQ(received.size(), filled + bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), received.end() - static_cast<std::ptrdiff_t>(bytes.size())));
}

TEST(SerialPortHangUp, ADeadLineNeitherSpinsNorHangsAndReopeningRecovers)
{
    auto pair = std::make_unique<PtyPair>();
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pair->path()), 0);
    pair->CloseDevice();

    std::size_t waiting = 0;
    EXPECT_FALSE(port.BytesWaiting(waiting) && waiting > 0);
    EXPECT_LE(WaitsWithin(port, 20, 200ms), 11) << "a hung-up line must not make the wait return at once";

    const std::uint8_t reply[] = {0x05, 0x01, 0x01, 0x08};
    const auto start = SteadyClock::now();
    EXPECT_FALSE(port.Write(reply, sizeof reply));
    EXPECT_LT(SteadyClock::now() - start, 140ms) << "a hung-up line refuses at once, not after the time-out";

    pair = std::make_unique<PtyPair>();
    ASSERT_EQ(port.OpenCommPort(pair->path()), 0);
    pair->Send({0x85, 0x01, 0x00, 0x87});
    ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting(waiting) && waiting == 4; }));
    EXPECT_EQ(ReadAll(port), (std::vector<std::uint8_t>{0x85, 0x01, 0x00, 0x87}));
    EXPECT_TRUE(port.Write(reply, sizeof reply));
    EXPECT_EQ(pair->Receive(4), (std::vector<std::uint8_t>{0x05, 0x01, 0x01, 0x08}));
}

// The UI thread switches between two ports while a reader polls, reads and
// waits without pause; the reader must never touch a released descriptor.
TEST(SerialPortSwitching, AReaderRunsOnWhileThePortIsSwitchedUnderIt)
{
    PtyPair first;
    PtyPair second;
    SerialPort port;
    std::atomic<bool> stop{false};
    std::atomic<int> bytesRead{0};
    std::thread reader([&] {
        while (!stop) {
            std::size_t waiting = 0;
            std::uint8_t byte = 0;
            if (port.BytesWaiting(waiting) && waiting > 0) {
                if (port.ReadByte(byte)) {
                    ++bytesRead;
                }
            } else {
                port.WaitForInput(5);
            }
        }
    });

    const std::uint8_t request[] = {0x32, 0x03, 0x01, 0x15, 0x20, 0x6C};
    for (int round = 0; round < 60; ++round) {
        PtyPair& pair = round % 2 == 0 ? first : second;
        ASSERT_EQ(port.OpenCommPort(pair.path()), 0) << "round " << round;
        pair.Send({static_cast<std::uint8_t>(round)});
        port.Write(request, sizeof request);
        if (round % 3 == 0) {
            port.Close();
        }
    }
    ASSERT_EQ(port.OpenCommPort(first.path()), 0);
    const int before = bytesRead;
    first.Send({0x85, 0x01, 0x00, 0x87});
    EXPECT_TRUE(WaitUntil([&] { return bytesRead >= before + 4; }));
    stop = true;
    reader.join();
}

} // namespace
} // namespace quillon
