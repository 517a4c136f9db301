#include "serial/line_server.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/un.h>
#endif

#include "serial/line_splitter.h"
#include "serial/socket_api.h"

namespace quillon {

namespace {

using namespace sockets;

// A client that leaves this much unread is dropped rather than let the
// runner's memory grow without bound.
constexpr std::size_t kOutboxLimit = 16 * 1024 * 1024;
constexpr std::size_t kReadChunk = 4096;
constexpr std::chrono::seconds kFlushLimit{1};
constexpr int kFlushPollMs = 100;

class SocketLineServer final : public LineServer {
public:
    SocketLineServer(Socket listener, std::string socketPath, Handler& handler)
        : listener_(listener), socketPath_(std::move(socketPath)), handler_(handler)
    {
        thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    }

    ~SocketLineServer() override
    {
        thread_.request_stop();
        wake_.Wake();
        thread_.join();
        Flush();
        for (auto& [id, client] : clients_) {
            Close(client.fd);
        }
        Close(listener_);
        if (!socketPath_.empty()) {
            std::remove(socketPath_.c_str());
        }
    }

    void Send(ClientId client, const std::string& line) override
    {
        {
            std::lock_guard lock(mutex_);
            const auto found = clients_.find(client);
            if (found == clients_.end()) {
                return;
            }
            found->second.outbox += line;
            found->second.outbox += '\n';
        }
        wake_.Wake();
    }

private:
    struct Client {
        Socket fd = kNoSocket;
        LineSplitter splitter{kLineLimit};
        std::string outbox;
    };

    void Run(std::stop_token stop)
    {
        while (!stop.stop_requested()) {
            std::vector<PollEntry> fds{{wake_.socket(), POLLIN, 0}, {listener_, POLLIN, 0}};
            std::vector<ClientId> ids;
            {
                std::lock_guard lock(mutex_);
                for (const auto& [id, client] : clients_) {
                    const short events = client.outbox.empty() ? POLLIN : POLLIN | POLLOUT;
                    fds.push_back({client.fd, events, 0});
                    ids.push_back(id);
                }
            }
            if (Poll(fds.data(), fds.size(), -1) < 0) {
                continue;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                wake_.Drain();
            }
            if ((fds[1].revents & POLLIN) != 0) {
                Accept();
            }
            for (std::size_t i = 0; i < ids.size(); ++i) {
                Serve(ids[i], fds[i + 2].revents);
            }
        }
    }

    // Lines still queued, such as the reply to a request that ends the
    // program, are written before the connections close; a client that
    // reads nothing holds this up a second at most.
    void Flush()
    {
        const auto until = std::chrono::steady_clock::now() + kFlushLimit;
        for (auto& [id, client] : clients_) {
            while (!client.outbox.empty() && std::chrono::steady_clock::now() < until) {
                PollEntry entry{client.fd, POLLOUT, 0};
                if (Poll(&entry, 1, kFlushPollMs) <= 0) {
                    continue;
                }
                const auto sent =
                    send(client.fd, client.outbox.data(), static_cast<int>(client.outbox.size()), kNoSignal);
                if (sent > 0) {
                    client.outbox.erase(0, static_cast<std::size_t>(sent));
                } else if (!WouldWait(LastError())) {
                    break;
                }
            }
        }
    }

    void Accept()
    {
        const Socket fd = sockets::Accept(listener_, nullptr, nullptr);
        if (fd == kNoSocket) {
            return;
        }
        if (socketPath_.empty()) {
            SetNoDelay(fd);
        }
        std::lock_guard lock(mutex_);
        clients_[nextId_++].fd = fd;
    }

    void Serve(ClientId id, short revents)
    {
        std::vector<LineSplitter::Line> lines;
        bool closed = false;
        {
            std::lock_guard lock(mutex_);
            Client& client = clients_.at(id);
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                char chunk[kReadChunk];
                const auto got = recv(client.fd, chunk, sizeof chunk, 0);
                if (got > 0) {
                    lines = client.splitter.Feed({chunk, static_cast<std::size_t>(got)});
                } else if (got == 0 || !WouldWait(LastError())) {
                    closed = true;
                }
            }
            if (!closed && (revents & POLLOUT) != 0 && !client.outbox.empty()) {
                const auto sent =
                    send(client.fd, client.outbox.data(), static_cast<int>(client.outbox.size()), kNoSignal);
                if (sent > 0) {
                    client.outbox.erase(0, static_cast<std::size_t>(sent));
                } else if (!WouldWait(LastError())) {
                    closed = true;
                }
            }
            closed = closed || client.outbox.size() > kOutboxLimit;
            if (closed) {
                Close(client.fd);
                clients_.erase(id);
            }
        }
        // The handler may send at once, so it is called without the lock.
        for (auto& line : lines) {
            if (line.tooLong) {
                handler_.OnLineTooLong(id);
            } else {
                handler_.OnLine(id, std::move(line.text));
            }
        }
        if (closed) {
            handler_.OnClosed(id);
        }
    }

    Socket listener_;
    std::string socketPath_;
    Handler& handler_;
    Waker wake_;
    std::mutex mutex_;
    std::map<ClientId, Client> clients_;
    ClientId nextId_ = 1;
    std::jthread thread_;
};

} // namespace

#ifdef _WIN32

std::unique_ptr<LineServer> ListenOnUnixSocket(const std::string&, LineServer::Handler&, std::string& error)
{
    error = "Unix sockets are not available on Windows; use --control-tcp PORT";
    return nullptr;
}

#else

std::unique_ptr<LineServer> ListenOnUnixSocket(const std::string& path, LineServer::Handler& handler,
                                               std::string& error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "the socket path must have 1 to " + std::to_string(sizeof address.sun_path - 1) + " characters";
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A socket file left by an earlier run is replaced; any other file stays.
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = path + " exists and is not a socket";
            return nullptr;
        }
        unlink(path.c_str());
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        if (fd >= 0) {
            close(fd);
        }
        return nullptr;
    }
    return std::make_unique<SocketLineServer>(fd, path, handler);
}

#endif

std::unique_ptr<LineServer> ListenOnLocalTcp(std::uint16_t port, LineServer::Handler& handler, std::uint16_t& boundPort,
                                             std::string& error)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Loopback only: the socket drives the panel and has no authentication.
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const Socket fd = Open(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    if (fd != kNoSocket) {
        SetNonBlocking(fd);
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    }
    if (fd == kNoSocket || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ErrorText(LastError());
        if (fd != kNoSocket) {
            Close(fd);
        }
        return nullptr;
    }
    AddressSize size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    boundPort = ntohs(address.sin_port);
    return std::make_unique<SocketLineServer>(fd, std::string{}, handler);
}

} // namespace quillon
