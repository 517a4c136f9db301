#include "serial/tcp_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "host/panel_host.h"
#include "protocol/protocol.h"
#include "runner/host_loop.h"
#include "serial/line_server.h"
#include "serial/memory_line.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Reads what the panel sends until count bytes have come or the time is up.
Bytes ReadReply(PanelPort& device, std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        std::uint8_t byte = 0;
        std::size_t waiting = 0;
        if (device.BytesWaiting(waiting) && waiting > 0 && device.ReadByte(byte)) {
            got.push_back(byte);
        } else {
            device.WaitForInput(20);
        }
    }
    return got;
}

// The panel on its own loop thread, on the given port.
struct RunningPanel {
    explicit RunningPanel(PanelPort& port) : host(port, clock)
    {
        host.Start(false);
        thread = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                loop.Turn();
            }
        });
    }
    ~RunningPanel() { Stop(); }
    // After this the host's figures may be read.
    void Stop()
    {
        if (thread.joinable()) {
            thread.request_stop();
            thread.join();
        }
        host.Stop();
    }

    SteadyClock clock;
    PanelHost host;
    runner::HostLoop loop{host};
    std::jthread thread;
};

const Bytes kBlock = EncodeFrame(kReadSwitches, Bytes{0x00});
const auto kCleanReply = ShortStatusFrame(0);

TEST(TcpPort, AddressesAsTheCommandLineGivesThem)
{
    TcpAddress address;
    std::string error;
    ASSERT_TRUE(ParseTcpAddress("5555", "127.0.0.1", address, error));
    EXPECT_EQ(address.host, "127.0.0.1");
    EXPECT_EQ(address.port, 5555);
    ASSERT_TRUE(ParseTcpAddress("[::1]:80", "", address, error));
    EXPECT_EQ(address.host, "::1");
    // What is missing is named: a host alone lacks its port.
    const std::pair<const char*, const char*> bad[] = {
        {"host:", "\"host:\" has no port number from 0 to 65535"},
        {"host:99999", "\"host:99999\" has no port number from 0 to 65535"},
        {"host:12x", "\"host:12x\" has no port number from 0 to 65535"},
        {":80", "\":80\" has no host; give HOST:PORT"},
        {"80", "\"80\" has no host; give HOST:PORT"},
        {"127.0.0.1", "\"127.0.0.1\" has no port; give HOST:PORT"},
        {"localhost", "\"localhost\" has no port; give HOST:PORT"},
    };
    for (const auto& [text, message] : bad) {
        EXPECT_FALSE(ParseTcpAddress(text, "", address, error)) << text;
        EXPECT_EQ(error, message);
    }
}

TEST(TcpPort, ADeviceThatGoesMidBlockIsAnsweredAgainWhenItComesBack)
{
    TcpPort panelPort;
    ASSERT_EQ(panelPort.Listen({"127.0.0.1", 0}), "");
    const TcpAddress address{"127.0.0.1", panelPort.LocalPort()};
    RunningPanel panel(panelPort);

    {
        TcpPort device;
        ASSERT_EQ(device.Connect(address), "");
        ASSERT_TRUE(device.Write(kBlock.data(), kBlock.size()));
        EXPECT_EQ(ReadReply(device, kCleanReply.size()), Bytes(kCleanReply.begin(), kCleanReply.end()));
        // Half a block, then the device goes.
        ASSERT_TRUE(device.Write(kBlock.data(), 2));
    }

    TcpPort device;
    ASSERT_EQ(device.Connect(address), "");
    // The half block left in the receiver spoils the first block sent now;
    // the panel says so in its reply and then answers cleanly again.
    bool clean = false;
    for (int attempt = 0; attempt < 5 && !clean; ++attempt) {
        ASSERT_TRUE(device.Write(kBlock.data(), kBlock.size()));
        const Bytes reply = ReadReply(device, kCleanReply.size());
        ASSERT_EQ(reply.size(), kCleanReply.size()) << "no reply after the device came back";
        clean = reply == Bytes(kCleanReply.begin(), kCleanReply.end());
    }
    EXPECT_TRUE(clean);
    panel.Stop();
    EXPECT_GE(panel.host.stats().errorReplies, 1u);
}

TEST(TcpPort, ASecondDeviceWaitsUntilTheFirstHasGone)
{
    TcpPort panelPort;
    ASSERT_EQ(panelPort.Listen({"127.0.0.1", 0}), "");
    const TcpAddress address{"127.0.0.1", panelPort.LocalPort()};
    RunningPanel panel(panelPort);
    auto first = std::make_unique<TcpPort>();
    ASSERT_EQ(first->Connect(address), "");
    ASSERT_TRUE(first->Write(kBlock.data(), kBlock.size()));
    ASSERT_EQ(ReadReply(*first, kCleanReply.size()).size(), kCleanReply.size());

    TcpPort second;
    ASSERT_EQ(second.Connect(address), "");
    second.Write(kBlock.data(), kBlock.size());
    EXPECT_TRUE(ReadReply(second, 1, std::chrono::milliseconds(300)).empty());
    first.reset();
    EXPECT_EQ(ReadReply(second, kCleanReply.size()), Bytes(kCleanReply.begin(), kCleanReply.end()));
}

// The device's side of a connection the panel makes: waits until the panel
// has connected, sends one block and returns the reply.
Bytes AnswerOnce(TcpPort& device)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!device.connected() && std::chrono::steady_clock::now() < end) {
        device.WaitForInput(20);
    }
    if (!device.Write(kBlock.data(), kBlock.size())) {
        return {};
    }
    return ReadReply(device, kCleanReply.size());
}

TEST(TcpPort, AConnectingPanelWaitsForTheDevicesPortToOpenAtStartAndAfterItWent)
{
    std::uint16_t port = 0;
    {
        TcpPort taken;
        ASSERT_EQ(taken.Listen({"127.0.0.1", 0}), "");
        port = taken.LocalPort();
    }
    std::mutex mutex;
    std::vector<std::string> log;
    TcpPort panelPort;
    panelPort.SetLog([&](const std::string& line) {
        std::lock_guard lock(mutex);
        log.push_back(line);
    });
    ASSERT_EQ(panelPort.Connect({"127.0.0.1", port}), "");
    EXPECT_NE(panelPort.WaitingFor().find("127.0.0.1:" + std::to_string(port)), std::string::npos);
    RunningPanel panel(panelPort);
    const Bytes clean(kCleanReply.begin(), kCleanReply.end());
    // The device's port opens a second after the panel began to connect,
    // then closes and opens again.
    std::unique_ptr<TcpPort> device;
    for (int opening = 0; opening < 2; ++opening) {
        device.reset();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        device = std::make_unique<TcpPort>();
        ASSERT_EQ(device->Listen({"127.0.0.1", port}), "");
        EXPECT_EQ(AnswerOnce(*device), clean) << "opening " << opening;
    }
    panel.Stop();
    std::lock_guard lock(mutex);
    int waiting = 0;
    int connected = 0;
    for (const std::string& line : log) {
        waiting += line.starts_with("waiting for the device at 127.0.0.1:") ? 1 : 0;
        connected += line.starts_with("device connected") ? 1 : 0;
    }
    EXPECT_EQ(waiting, 2) << "once at the start, once after the device went";
    EXPECT_EQ(connected, 2);
}

// Remembers the client that sent a line.
class FirstClient final : public LineServer::Handler {
public:
    void OnLine(LineServer::ClientId client, std::string) override { client_ = client; }
    void OnLineTooLong(LineServer::ClientId) override {}
    void OnClosed(LineServer::ClientId) override {}
    LineServer::ClientId client() const { return client_; }

private:
    std::atomic<LineServer::ClientId> client_{0};
};

TEST(LineServer, ALineSentJustBeforeTheServerClosesIsStillWritten)
{
    FirstClient handler;
    std::uint16_t port = 0;
    std::string error;
    auto server = ListenOnLocalTcp(0, handler, port, error);
    ASSERT_NE(server, nullptr) << error;
    TcpPort client;
    ASSERT_EQ(client.Connect({"127.0.0.1", port}), "");
    const std::string hello = "hello\n";
    ASSERT_TRUE(client.Write(reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size()));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (handler.client() == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_NE(handler.client(), 0u);
    // The reply to a request that ends the program, such as quit.
    server->Send(handler.client(), "bye");
    server.reset();
    EXPECT_EQ(ReadReply(client, 4), (Bytes{'b', 'y', 'e', '\n'}));
}

TEST(MemoryLine, BytesCrossInOrderBothWays)
{
    MemoryLine line;
    const Bytes out{1, 2, 3};
    ASSERT_TRUE(line.deviceEnd().Write(out.data(), out.size()));
    EXPECT_EQ(ReadReply(line.panelEnd(), 3), out);
    ASSERT_TRUE(line.panelEnd().Write(out.data(), 1));
    EXPECT_EQ(ReadReply(line.deviceEnd(), 1), Bytes{1});
}

} // namespace
} // namespace quillon
