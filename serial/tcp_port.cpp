#include "serial/tcp_port.h"

#include <chrono>
#include <thread>

#include "serial/socket_api.h"

namespace quillon {

namespace {

using namespace sockets;

// How long one attempt to reach a device may take, and the pauses between
// attempts while its port is not open: short at first, as an emulator started
// alongside opens its port within moments, then no more than half a second.
constexpr int kConnectTimeoutMs = 3000;
constexpr std::uint32_t kFirstRetryMs = 20;
constexpr std::uint32_t kLongestRetryMs = 500;

std::uint32_t NowMs()
{
    return SteadyClock().NowMs();
}

std::string Describe(const TcpAddress& address)
{
    return address.host + ":" + std::to_string(address.port);
}

// A connected, non-blocking socket to the address, or none with the reason;
// hostFound is false when the host's name cannot be found, which waiting
// does not mend.
Socket ConnectSocket(const TcpAddress& address, int timeoutMs, std::string& error, bool& hostFound)
{
    hostFound = true;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
    if (lookup != 0) {
        error = "cannot find " + address.host + ": " + gai_strerror(lookup);
        hostFound = false;
        return kNoSocket;
    }
    Socket fd = kNoSocket;
    error = "no address to connect to";
    for (addrinfo* entry = found; entry != nullptr && fd == kNoSocket; entry = entry->ai_next) {
        fd = Open(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
        if (fd == kNoSocket) {
            error = ErrorText(LastError());
            continue;
        }
        SetNonBlocking(fd);
        std::string failure;
        if (connect(fd, entry->ai_addr, static_cast<AddressSize>(entry->ai_addrlen)) != 0) {
            const int code = LastError();
            failure = ErrorText(code);
            if (ConnectPending(code)) {
                PollEntry wait{fd, POLLOUT, 0};
                int result = 0;
                AddressSize size = sizeof result;
                if (Poll(&wait, 1, timeoutMs) != 1) {
                    failure = "Connection timed out";
                } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &size) == 0 &&
                           result != 0) {
                    failure = ErrorText(result);
                } else {
                    failure.clear();
                }
            }
        }
        if (!failure.empty()) {
            error = failure;
            Close(fd);
            fd = kNoSocket;
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
        // A host alone ("127.0.0.1", "localhost") lacks its port, not its host.
        const bool number = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
        error = "\"" + text + (colon == std::string::npos && !number ? "\" has no port" : "\" has no host") +
                "; give HOST:PORT";
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
    bool hostFound = true;
    const Socket fd = ConnectSocket(address, kConnectTimeoutMs, error, hostFound);
    if (!hostFound) {
        return "cannot connect to " + Describe(address) + ": " + error;
    }
    remote_ = address;
    connecting_ = true;
    if (fd == kNoSocket) {
        // An emulator started alongside has often not opened its port yet:
        // the reader thread keeps trying.
        StartWaiting(error);
    } else {
        TakePeer(Store(fd), Describe(address));
    }
    return {};
}

std::string TcpPort::WaitingFor() const
{
    if (connected()) {
        return {};
    }
    if (connecting_) {
        return "the " + peerName_ + "'s port at " + Describe(remote_) + " to open";
    }
    return listener_ >= 0 ? "a " + peerName_ + " to connect on port " + std::to_string(LocalPort()) : std::string{};
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
        const Socket fd = Open(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
        if (fd == kNoSocket) {
            error = ErrorText(LastError());
            continue;
        }
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
        if (bind(fd, entry->ai_addr, static_cast<AddressSize>(entry->ai_addrlen)) != 0 || listen(fd, 1) != 0) {
            error = ErrorText(LastError());
            sockets::Close(fd);
            continue;
        }
        SetNonBlocking(fd);
        listener_ = Store(fd);
    }
    freeaddrinfo(found);
    return listener_ >= 0 ? std::string{} : "cannot listen on " + Describe(address) + ": " + error;
}

std::uint16_t TcpPort::LocalPort() const
{
    sockaddr_storage local{};
    AddressSize size = sizeof local;
    if (listener_ < 0 || getsockname(Restore(listener_), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
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
        sockets::Close(Restore(peer_.exchange(-1)));
    }
    if (listener_ >= 0) {
        sockets::Close(Restore(listener_));
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

void TcpPort::TakePeer(std::intptr_t fd, const std::string& who)
{
    SetNonBlocking(Restore(fd));
    // A reply is a few bytes that the device waits for: send it at once.
    SetNoDelay(Restore(fd));
    {
        std::lock_guard lock(mutex_);
        peer_.store(fd);
    }
    retryMs_ = kFirstRetryMs;
    Log(peerName_ + " connected: " + who);
}

void TcpPort::StartWaiting(const std::string& why)
{
    retryMs_ = kFirstRetryMs;
    nextAttemptMs_ = NowMs() + retryMs_;
    Log("waiting for the " + peerName_ + " at " + Describe(remote_) + " (" + why + ")");
}

void TcpPort::DropPeer(const std::string& why)
{
    {
        std::lock_guard lock(mutex_);
        sockets::Close(Restore(peer_.exchange(-1)));
    }
    Log(peerName_ + " disconnected: " + why);
    if (connecting_) {
        StartWaiting("it hung up");
    }
}

void TcpPort::AcceptPending()
{
    sockaddr_storage from{};
    AddressSize size = sizeof from;
    const Socket fd = Accept(Restore(listener_), reinterpret_cast<sockaddr*>(&from), &size);
    if (fd == kNoSocket) {
        return;
    }
    char host[NI_MAXHOST] = "?";
    char service[NI_MAXSERV] = "?";
    getnameinfo(reinterpret_cast<sockaddr*>(&from), size, host, sizeof host, service, sizeof service,
                NI_NUMERICHOST | NI_NUMERICSERV);
    TakePeer(Store(fd), std::string(host) + ":" + service);
}

void TcpPort::TryReconnect(int timeoutMs)
{
    const auto waitMs = static_cast<std::int32_t>(nextAttemptMs_ - NowMs());
    if (waitMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMs, timeoutMs)));
        return;
    }
    std::string error;
    bool hostFound = true;
    const Socket fd = ConnectSocket(remote_, timeoutMs, error, hostFound);
    retryMs_ = std::min(retryMs_ * 2, kLongestRetryMs);
    nextAttemptMs_ = NowMs() + retryMs_;
    if (fd != kNoSocket) {
        TakePeer(Store(fd), Describe(remote_));
    }
}

bool TcpPort::BytesWaiting(std::size_t& count)
{
    std::lock_guard lock(mutex_);
    return peer_.load() >= 0 && sockets::BytesWaiting(Restore(peer_.load()), count);
}

bool TcpPort::ReadByte(std::uint8_t& byte)
{
    std::lock_guard lock(mutex_);
    return peer_.load() >= 0 && recv(Restore(peer_.load()), reinterpret_cast<char*>(&byte), 1, 0) == 1;
}

bool TcpPort::Write(const std::uint8_t* data, std::size_t length)
{
    std::lock_guard lock(mutex_);
    const std::intptr_t stored = peer_.load();
    if (stored < 0) {
        return false;
    }
    const Socket fd = Restore(stored);
    // The same bound as a serial line's write: 10 ms a byte plus 100 ms.
    const std::uint32_t deadline = NowMs() + static_cast<std::uint32_t>(10 * length + 100);
    std::size_t sent = 0;
    while (sent < length) {
        const auto written =
            send(fd, reinterpret_cast<const char*>(data + sent), static_cast<int>(length - sent), kNoSignal);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        const auto left = static_cast<std::int32_t>(deadline - NowMs());
        if ((written < 0 && !WouldWait(LastError())) || left <= 0) {
            return false;
        }
        PollEntry wait{fd, POLLOUT, 0};
        Poll(&wait, 1, left);
    }
    return true;
}

void TcpPort::WaitForInput(int timeoutMs)
{
    // Only this thread replaces the peer, so the descriptor stays valid here.
    const std::intptr_t peer = peer_.load();
    if (peer < 0 && listener_ < 0) {
        if (connecting_) {
            TryReconnect(timeoutMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        }
        return;
    }
    // While a device is connected the next one waits in the listener's queue
    // and is taken once this one has gone, so a device that hangs up and
    // connects again at once (its last bytes still unread) is served, not
    // mistaken for a second device. A socket of none (no device yet, or not
    // listening) is left out of the wait on either system.
    const std::intptr_t listening = peer >= 0 ? -1 : listener_;
    PollEntry fds[2] = {{Restore(peer), POLLIN, 0}, {Restore(listening), POLLIN, 0}};
    if (Poll(fds, 2, timeoutMs) <= 0) {
        return;
    }
    if (peer >= 0 && fds[0].revents != 0) {
        char next = 0;
        const auto peeked = recv(Restore(peer), &next, 1, MSG_PEEK);
        const int error = peeked < 0 ? LastError() : 0;
        if (peeked == 0 || (peeked < 0 && !WouldWait(error))) {
            DropPeer(peeked == 0 ? "the connection was closed" : ErrorText(error));
        }
    }
    if ((fds[1].revents & POLLIN) != 0) {
        AcceptPending();
    }
}

} // namespace quillon
