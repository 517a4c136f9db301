#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "link/engine_interfaces.h"

namespace quillon {

// A host and a TCP port, as given on a command line: "HOST:PORT", or "PORT"
// alone where a default host is allowed.
struct TcpAddress {
    std::string host;
    std::uint16_t port = 0;
};
// False, with the reason, when the text is not such an address.
bool ParseTcpAddress(const std::string& text, const std::string& defaultHost, TcpAddress& address, std::string& error);

// The panel link over raw TCP, for a device whose serial line is a socket
// (firmware running under an emulator). It either connects to the device or
// listens for the device to connect; one device at a time. When the device
// goes, the line is silent until it comes back: a listening port takes the
// next connection, a connecting port tries again. A connecting port whose
// device has not opened its port yet keeps trying in the same way, with
// pauses from 20 ms growing to half a second, and says once that it waits.
//
// The reader thread calls BytesWaiting, ReadByte and WaitForInput and is the
// only one that takes or drops a connection; Write comes from the ticking
// thread. Close only once the reader has stopped.
//
// What it tells names the other end "the device", as the panel's side sees
// it; the demo device, which is the device, names it "the panel".
class TcpPort final : public PanelPort {
public:
    explicit TcpPort(std::string peer = "device") : peerName_(std::move(peer)) {}
    ~TcpPort() override;
    TcpPort(const TcpPort&) = delete;
    TcpPort& operator=(const TcpPort&) = delete;

    // Each returns an empty text on success, otherwise why it failed. Connect
    // fails only for a host whose name cannot be found; a port not open yet
    // is waited for.
    std::string Connect(const TcpAddress& address);
    std::string Listen(const TcpAddress& address);
    // The port a listening port was bound to (useful after port 0).
    std::uint16_t LocalPort() const;
    bool connected() const { return peer_.load() >= 0; }
    // While no device is connected, what the port waits for ("the device's
    // port at HOST:PORT to open"); otherwise empty.
    std::string WaitingFor() const;
    void Close();

    // Told on the reader thread when a device connects or goes.
    void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

    bool BytesWaiting(std::size_t& count) override;
    bool ReadByte(std::uint8_t& byte) override;
    bool Write(const std::uint8_t* data, std::size_t length) override;
    void WaitForInput(int timeoutMs) override;

private:
    // Sockets are kept as std::intptr_t, wide enough for a POSIX descriptor
    // and a Winsock SOCKET alike; -1 is none.
    void TakePeer(std::intptr_t socket, const std::string& who);
    void DropPeer(const std::string& why);
    void AcceptPending();
    void StartWaiting(const std::string& why);
    void TryReconnect(int timeoutMs);
    void Log(const std::string& line) const;

    // Held while the peer descriptor is used or replaced.
    std::mutex mutex_;
    std::atomic<std::intptr_t> peer_{-1};
    std::intptr_t listener_ = -1;
    TcpAddress remote_;
    bool connecting_ = false;
    std::uint32_t nextAttemptMs_ = 0;
    std::uint32_t retryMs_ = 0;
    std::function<void(const std::string&)> log_;
    const std::string peerName_;
};

} // namespace quillon
