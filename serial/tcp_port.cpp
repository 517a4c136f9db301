#include "serial/tcp_port.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillon {

namespace {

// How long one attempt to reach a device may take, and the pause between
// attempts once it has gone.
constexpr int kConnectTimeoutMs = 3000;
constexpr std::uint32_t kReconnectIntervalMs = 500;

std::uint32_t NowMs()
{
    return SteadyClock().NowMs();
}

std::string Describe(const TcpAddress& address)
{
    return address.host + ":" + std::to_string(address.port);
}

void SetNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// A connected, non-blocking socket to the address, or -1 with the reason.
int ConnectSocket(const TcpAddress& address, int timeoutMs, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
    if (lookup != 0) {
        error = "cannot find " + address.host + ": " + gai_strerror(lookup);
        return -1;
    }
    int fd = -1;
    error = "no address to connect to";
    for (addrinfo* entry = found; entry != nullptr && fd < 0; entry = entry->ai_next) {
        fd = socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0) {
            error = std::strerror(errno);
            continue;
        }
        SetNonBlocking(fd);
        int failure = 0;
        if (connect(fd, entry->ai_addr, entry->ai_addrlen) != 0) {
            failure = errno;
            if (failure == EINPROGRESS) {
                pollfd wait{fd, POLLOUT, 0};
                failure = poll(&wait, 1, timeoutMs) == 1 ? 0 : ETIMEDOUT;
                socklen_t size = sizeof failure;
                if (failure == 0) {
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
                }
            }
        }
        if (failure != 0) {
            error = std::strerror(failure);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

} // namespace

bool ParseTcpAddress(const std::string& text, const std::string& defaultHost, TcpAddress& address, std::string& error)
{
    const auto colon = text.rfind(':');
    std::string host = colon == std::string::npos ? defaultHost : text.substr(0, colon);
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    // A bracketed IPv6 literal, [::1]:4000.
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty()) {
        error = "\"" + text + "\" has no host; give HOST:PORT";
        return false;
    }
    unsigned long number = 0;
    std::size_t used = 0;
    try {
        number = std::stoul(port, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (port.empty() || used != port.size() || number > 65535) {
        error = "\"" + text + "\" has no port number from 0 to 65535";
        return false;
    }
    address = {host, static_cast<std::uint16_t>(number)};
    return true;
}

TcpPort::~TcpPort()
{
    Close();
}

std::string TcpPort::Connect(const TcpAddress& address)
{
    Close();
    std::string error;
    const int fd = ConnectSocket(address, kConnectTimeoutMs, error);
    if (fd < 0) {
        return "cannot connect to " + Describe(address) + ": " + error;
    }
    remote_ = address;
    connecting_ = true;
    TakePeer(fd, Describe(address));
    return {};
}

std::string TcpPort::Listen(const TcpAddress& address)
{
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
    if (lookup != 0) {
        return "cannot listen on " + Describe(address) + ": " + gai_strerror(lookup);
    }
    std::string error = "no address to listen on";
    for (addrinfo* entry = found; entry != nullptr && listener_ < 0; entry = entry->ai_next) {
        const int fd = socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0) {
            error = std::strerror(errno);
            continue;
        }
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(fd, entry->ai_addr, entry->ai_addrlen) != 0 || listen(fd, 1) != 0) {
            error = std::strerror(errno);
            close(fd);
            continue;
        }
        SetNonBlocking(fd);
        listener_ = fd;
    }
    freeaddrinfo(found);
    return listener_ >= 0 ? std::string{} : "cannot listen on " + Describe(address) + ": " + error;
}

std::uint16_t TcpPort::LocalPort() const
{
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (listener_ < 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return 0;
    }
    if (local.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
}

void TcpPort::Close()
{
    std::lock_guard lock(mutex_);
    if (peer_.load() >= 0) {
        close(peer_.exchange(-1));
    }
    if (listener_ >= 0) {
        close(listener_);
        listener_ = -1;
    }
    connecting_ = false;
}

void TcpPort::Log(const std::string& line) const
{
    if (log_) {
        log_(line);
    }
}

void TcpPort::TakePeer(int fd, const std::string& who)
{
    SetNonBlocking(fd);
    // A reply is a few bytes that the device waits for: send it at once.
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    {
        std::lock_guard lock(mutex_);
        peer_.store(fd);
    }
    Log("device connected: " + who);
}

void TcpPort::DropPeer(const std::string& why)
{
    {
        std::lock_guard lock(mutex_);
        close(peer_.exchange(-1));
    }
    nextAttemptMs_ = NowMs() + kReconnectIntervalMs;
    Log("device disconnected: " + why);
}

void TcpPort::AcceptPending()
{
    sockaddr_storage from{};
    socklen_t size = sizeof from;
    const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&from), &size, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (peer_.load() >= 0) {
        // One device at a time: a second one is turned away.
        close(fd);
        Log("a second device was turned away");
        return;
    }
    char host[NI_MAXHOST] = "?";
    char service[NI_MAXSERV] = "?";
    getnameinfo(reinterpret_cast<sockaddr*>(&from), size, host, sizeof host, service, sizeof service,
                NI_NUMERICHOST | NI_NUMERICSERV);
    TakePeer(fd, std::string(host) + ":" + service);
}

void TcpPort::TryReconnect(int timeoutMs)
{
    const auto waitMs = static_cast<std::int32_t>(nextAttemptMs_ - NowMs());
    if (waitMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMs, timeoutMs)));
        return;
    }
    std::string error;
    const int fd = ConnectSocket(remote_, timeoutMs, error);
    nextAttemptMs_ = NowMs() + kReconnectIntervalMs;
    if (fd >= 0) {
        TakePeer(fd, Describe(remote_));
    }
}

bool TcpPort::BytesWaiting(std::size_t& count)
{
    std::lock_guard lock(mutex_);
    int waiting = 0;
    if (peer_.load() < 0 || ioctl(peer_.load(), FIONREAD, &waiting) != 0) {
        return false;
    }
    count = static_cast<std::size_t>(waiting);
    return true;
}

bool TcpPort::ReadByte(std::uint8_t& byte)
{
    std::lock_guard lock(mutex_);
    return peer_.load() >= 0 && recv(peer_.load(), &byte, 1, MSG_DONTWAIT) == 1;
}

bool TcpPort::Write(const std::uint8_t* data, std::size_t length)
{
    std::lock_guard lock(mutex_);
    const int fd = peer_.load();
    if (fd < 0) {
        return false;
    }
    // The same bound as a serial line's write: 10 ms a byte plus 100 ms.
    const std::uint32_t deadline = NowMs() + static_cast<std::uint32_t>(10 * length + 100);
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t written = send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        const auto left = static_cast<std::int32_t>(deadline - NowMs());
        if ((written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) || left <= 0) {
            return false;
        }
        pollfd wait{fd, POLLOUT, 0};
        poll(&wait, 1, left);
    }
    return true;
}

void TcpPort::WaitForInput(int timeoutMs)
{
    // Only this thread replaces the peer, so the descriptor stays valid here.
    const int peer = peer_.load();
    if (peer < 0 && listener_ < 0) {
        if (connecting_) {
            TryReconnect(timeoutMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        }
        return;
    }
    pollfd fds[2] = {{peer, POLLIN, 0}, {listener_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) {
        return;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        AcceptPending();
    }
    if (peer >= 0 && fds[0].revents != 0) {
        std::uint8_t next = 0;
        const ssize_t peeked = recv(peer, &next, 1, MSG_PEEK | MSG_DONTWAIT);
        if (peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            DropPeer(peeked == 0 ? "the connection was closed" : std::strerror(errno));
        }
    }
}

} // namespace quillon
