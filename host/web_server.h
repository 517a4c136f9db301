#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillon {

class PanelHost;

struct WebServerOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    // Needed off loopback; empty on loopback, where the Host header guards.
    std::string token;
    bool readOnly = false;
};

// The panel on a web page: GET / serves the page, /ws the control protocol
// over a WebSocket (quit refused, a "display" event added after subscribe),
// /text the screen's rows as JSON and /screenshot.png?scale=N the display.
// It serves from a thread of its own; the panel's replies to its clients are
// queued for them without ever waiting on the network. Made and ended on
// the host's thread.
class WebServer {
public:
    // The most connections served at once; the next is refused with a reason.
    static constexpr int kConnectionLimit = 32;
    // The largest request or WebSocket message taken.
    static constexpr std::size_t kMessageLimit = 64 * 1024;

    virtual ~WebServer() = default;
    virtual std::uint16_t port() const = 0;
};

// How the server takes a request's bytes before anything of it reaches the
// panel: the HTTP status it answers (101 for a WebSocket, 0 for bytes that
// are not yet a whole request) and the JSON body of a refusal.
struct WebJudgement {
    int status = 0;
    std::string body;
};
WebJudgement JudgeWebRequest(std::string_view bytes, const std::string& token, std::uint16_t port);

// Empty, with the reason in error, when it cannot serve (the address taken,
// or no web server in this build).
std::unique_ptr<WebServer> StartWebServer(PanelHost& host, const WebServerOptions& options, std::string& error);

// Serves at [HOST:]PORT (HOST 127.0.0.1 unless given) with the options'
// token, or one made here when HOST is not loopback; told is the page's
// address to print, with the token.
std::unique_ptr<WebServer> ServeWeb(PanelHost& host, const std::string& address, WebServerOptions options,
                                    std::string& told, std::string& error);

} // namespace quillon
