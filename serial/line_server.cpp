#include "serial/line_server.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "serial/line_splitter.h"

namespace quillon {

namespace {

// A client that leaves this much unread is dropped rather than let the
// runner's memory grow without bound.
constexpr std::size_t kOutboxLimit = 16 * 1024 * 1024;
constexpr std::size_t kReadChunk = 4096;

class PosixLineServer final : public LineServer {
public:
    PosixLineServer(int listener, std::string socketPath, Handler& handler)
        : listener_(listener), socketPath_(std::move(socketPath)), handler_(handler)
    {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
            wake_[0] = wake_[1] = -1;
        }
        thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    }

    ~PosixLineServer() override
    {
        thread_.request_stop();
        Wake();
        thread_.join();
        for (auto& [id, client] : clients_) {
            close(client.fd);
        }
        close(listener_);
        close(wake_[0]);
        close(wake_[1]);
        if (!socketPath_.empty()) {
            unlink(socketPath_.c_str());
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
        Wake();
    }

private:
    struct Client {
        int fd = -1;
        LineSplitter splitter{kLineLimit};
        std::string outbox;
    };

    void Wake()
    {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(wake_[1], &byte, 1);
    }

    void Run(std::stop_token stop)
    {
        while (!stop.stop_requested()) {
            std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            std::vector<ClientId> ids;
            {
                std::lock_guard lock(mutex_);
                for (const auto& [id, client] : clients_) {
                    const short events = client.outbox.empty() ? POLLIN : POLLIN | POLLOUT;
                    fds.push_back({client.fd, events, 0});
                    ids.push_back(id);
                }
            }
            if (poll(fds.data(), fds.size(), -1) < 0) {
                continue;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                char drain[64];
                while (read(wake_[0], drain, sizeof drain) > 0) {
                }
            }
            if ((fds[1].revents & POLLIN) != 0) {
                Accept();
            }
            for (std::size_t i = 0; i < ids.size(); ++i) {
                Serve(ids[i], fds[i + 2].revents);
            }
        }
    }

    void Accept()
    {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
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
                const ssize_t got = read(client.fd, chunk, sizeof chunk);
                if (got > 0) {
                    lines = client.splitter.Feed({chunk, static_cast<std::size_t>(got)});
                } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                    closed = true;
                }
            }
            if (!closed && (revents & POLLOUT) != 0 && !client.outbox.empty()) {
                const ssize_t sent = send(client.fd, client.outbox.data(), client.outbox.size(), MSG_NOSIGNAL);
                if (sent > 0) {
                    client.outbox.erase(0, static_cast<std::size_t>(sent));
                } else if (errno != EAGAIN && errno != EINTR) {
                    closed = true;
                }
            }
            closed = closed || client.outbox.size() > kOutboxLimit;
            if (closed) {
                close(client.fd);
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

    int listener_;
    std::string socketPath_;
    Handler& handler_;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::map<ClientId, Client> clients_;
    ClientId nextId_ = 1;
    std::jthread thread_;
};

} // namespace

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
    return std::make_unique<PosixLineServer>(fd, path, handler);
}

std::unique_ptr<LineServer> ListenOnLocalTcp(std::uint16_t port, LineServer::Handler& handler, std::uint16_t& boundPort,
                                             std::string& error)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Loopback only: the socket drives the panel and has no authentication.
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int yes = 1;
    if (fd >= 0) {
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    }
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0) {
            close(fd);
        }
        return nullptr;
    }
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    boundPort = ntohs(address.sin_port);
    return std::make_unique<PosixLineServer>(fd, std::string{}, handler);
}

} // namespace quillon
