// The Win32 serial port on its own: COM names, the set-up steps, exclusive
// use, bytes both ways, and a waiting reader let go by Close.
#include "serial/serial_port.h"

#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include <gtest/gtest.h>
#include <windows.h>

#include "tests/windows/com_lines.h"

namespace quillon {
namespace {

using testing::Bytes;
using testing::ComPairs;

struct NameCase {
    const char* name;
    std::optional<int> number;
};

TEST(ComPortNames, TheFormsWindowsUsersWriteNameAPortAndNothingElseDoes)
{
    const NameCase cases[] = {
        {"COM1", 1},
        {"com7", 7},
        {"COM12:", 12},
        {"\\\\.\\COM256", 256},
        {"COM0", std::nullopt},
        {"COM07", std::nullopt},
        {"COM257", std::nullopt},
        {"COMX", std::nullopt},
        {"COM", std::nullopt},
        {"LPT1", std::nullopt},
        {"/dev/ttyS0", std::nullopt},
        {"COM1 ", std::nullopt},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(ComPortNumber(c.name), c.number) << c.name;
    }
    // Only the \\.\ form opens COM10 and above.
    EXPECT_EQ(ComPortPath(3), "\\\\.\\COM3");
    EXPECT_EQ(ComPortPath(10), "\\\\.\\COM10");
}

TEST(Win32SerialPort, APortWithNoDeviceFailsAtStepOneWithTheSystemsReason)
{
    SerialPort port;
    for (const char* missing : {"COM200", "\\\\.\\NoSuchPort"}) {
        EXPECT_EQ(port.OpenCommPort(missing), 1) << missing;
        EXPECT_NE(port.lastOpenError(), 0) << missing;
        EXPECT_FALSE(port.IsOpen());
        std::size_t waiting = 0;
        EXPECT_FALSE(port.BytesWaiting(waiting)) << "a port that failed to open counts as no queue";
    }
}

TEST(Win32SerialPort, ReopeningThePortAlreadyOpenSucceeds)
{
    const auto pairs = ComPairs();
    if (pairs.empty()) {
        GTEST_SKIP() << "no joined COM ports (QUILLON_TEST_COM_PAIRS at configure time)";
    }
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pairs[0].panel), 0);
    EXPECT_EQ(port.OpenCommPort(pairs[0].panel), 0);
    EXPECT_TRUE(port.IsOpen());
}

TEST(Win32SerialPort, ASecondOpenerIsTurnedAwayUntilTheFirstCloses)
{
    const auto pairs = ComPairs();
    if (pairs.empty()) {
        GTEST_SKIP() << "no joined COM ports (QUILLON_TEST_COM_PAIRS at configure time)";
    }
    if (testing::RunningUnderWine()) {
        GTEST_SKIP() << "Wine lets a device be opened twice whatever the sharing asked for";
    }
    SerialPort first;
    SerialPort second;
    ASSERT_EQ(first.OpenCommPort(pairs[0].panel), 0);
    EXPECT_EQ(second.OpenCommPort(pairs[0].panel), 1);
    EXPECT_EQ(second.lastOpenError(), ERROR_ACCESS_DENIED);
    first.Close();
    EXPECT_EQ(second.OpenCommPort(pairs[0].panel), 0);
}

TEST(Win32SerialPort, EveryByteValuePassesUnchangedBothWays)
{
    const auto pairs = ComPairs();
    if (pairs.empty()) {
        GTEST_SKIP() << "no joined COM ports (QUILLON_TEST_COM_PAIRS at configure time)";
    }
    SerialPort panel;
    SerialPort device;
    ASSERT_EQ(panel.OpenCommPort(pairs[0].panel), 0);
    ASSERT_EQ(device.OpenCommPort(pairs[0].device), 0);
    Bytes bytes(256);
    for (int value = 0; value < 256; ++value) {
        bytes[value] = static_cast<std::uint8_t>(value);
    }
    ASSERT_TRUE(device.Write(bytes.data(), bytes.size()));
    EXPECT_EQ(testing::Receive(panel, bytes.size()), bytes);
    ASSERT_TRUE(panel.Write(bytes.data(), bytes.size()));
    EXPECT_EQ(testing::Receive(device, bytes.size()), bytes);
}

// A device that went on polling while the panel's port was closed has its
// bytes dropped by the next open, which says how many, and not a byte more.
TEST(Win32SerialPort, OpeningDropsWhatTheDeviceSentWhileThePortWasClosed)
{
    const auto pairs = ComPairs();
    if (pairs.empty()) {
        GTEST_SKIP() << "no joined COM ports (QUILLON_TEST_COM_PAIRS at configure time)";
    }
    SerialPort panel;
    SerialPort device;
    ASSERT_EQ(panel.OpenCommPort(pairs[0].panel), 0);
    testing::Drain(panel);
    panel.Close();
    ASSERT_EQ(device.OpenCommPort(pairs[0].device), 0);
    const Bytes polls{0x82, 0x00, 0x82, 0x82, 0x00, 0x82, 0x82, 0x00, 0x82};
    // The bytes reach the closed port's queue in their own time, and each
    // open drops and counts whatever has arrived by then. Bytes that arrive
    // during an open may be dropped uncounted, so the port stays closed a
    // while between opens, and a try that lost count is made again.
    const auto droppedOverOpens = [&] {
        std::size_t dropped = 0;
        testing::WaitUntil(
            [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (panel.OpenCommPort(pairs[0].panel) == 0) {
                    dropped += panel.droppedOnOpen();
                    panel.Close();
                }
                return dropped >= polls.size();
            },
            std::chrono::seconds(2));
        return dropped;
    };
    std::size_t dropped = 0;
    for (int attempt = 0; attempt < 3 && dropped != polls.size(); ++attempt) {
        ASSERT_TRUE(device.Write(polls.data(), polls.size()));
        dropped = droppedOverOpens();
    }
    EXPECT_EQ(dropped, polls.size());
    ASSERT_EQ(panel.OpenCommPort(pairs[0].panel), 0);
    EXPECT_EQ(panel.droppedOnOpen(), 0u);
    EXPECT_TRUE(testing::ReadAll(panel).empty());

    // What comes after the open is the panel's to read.
    const Bytes block{0x81, 0x04, 0x00, 0x00, 0x41, 0x42, 0x09};
    ASSERT_TRUE(device.Write(block.data(), block.size()));
    EXPECT_EQ(testing::Receive(panel, block.size()), block);
}

TEST(Win32SerialPort, CloseLetsAReaderWaitingOnAnIdleLineGo)
{
    const auto pairs = ComPairs();
    if (pairs.empty()) {
        GTEST_SKIP() << "no joined COM ports (QUILLON_TEST_COM_PAIRS at configure time)";
    }
    SerialPort port;
    ASSERT_EQ(port.OpenCommPort(pairs[0].panel), 0);
    testing::Drain(port);
    auto waiting = std::async(std::launch::async, [&port] { port.WaitForInput(60'000); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "an idle line holds the reader in its wait";
    port.Close();
    EXPECT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

} // namespace
} // namespace quillon
