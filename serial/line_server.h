#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

// A server of line-based connections, for the headless runner's control
// socket: clients connect, send lines and receive lines. The connections are
// served on a thread of the server's own; the handler hears from it there.
class LineServer {
public:
    using ClientId = std::uint32_t;
    // The longest line a client may send; a longer one is refused.
    static constexpr std::size_t kLineLimit = 64 * 1024;

    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void OnLine(ClientId client, std::string line) = 0;
        virtual void OnLineTooLong(ClientId client) = 0;
        virtual void OnClosed(ClientId client) = 0;
    };

    virtual ~LineServer() = default;
    // Queues a line (without its '\n') for a client; any thread. A client
    // that has gone, or that reads too slowly to keep up, is dropped.
    virtual void Send(ClientId client, const std::string& line) = 0;
};

// A Unix socket at path (a stale socket file there is replaced), or a TCP
// port on 127.0.0.1 (port 0 picks a free one; boundPort tells which). Empty
// with the reason in error when it cannot be made.
std::unique_ptr<LineServer> ListenOnUnixSocket(const std::string& path, LineServer::Handler& handler,
                                               std::string& error);
std::unique_ptr<LineServer> ListenOnLocalTcp(std::uint16_t port, LineServer::Handler& handler, std::uint16_t& boundPort,
                                             std::string& error);

} // namespace quillon
