#include "host/web_access.h"
#include "host/web_server.h"
#include "serial/tcp_port.h"

namespace quillon {

std::unique_ptr<WebServer> ServeWeb(PanelHost& host, const std::string& address, WebServerOptions options,
                                    std::string& told, std::string& error)
{
    TcpAddress parsed;
    if (!ParseTcpAddress(address, "127.0.0.1", parsed, error)) {
        error = "--http " + address + ": " + error;
        return nullptr;
    }
    options.host = parsed.host;
    options.port = parsed.port;
    const bool made = options.token.empty() && !IsLoopbackAddress(options.host);
    if (made) {
        options.token = MakeWebToken();
    }
    auto server = StartWebServer(host, options, error);
    if (!server) {
        return nullptr;
    }
    const std::string shown = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
    told = "http://" + shown + ":" + std::to_string(server->port()) + "/" +
           (options.token.empty() ? "" : "?token=" + options.token) + (made ? " (a token made for this run)" : "");
    return server;
}

} // namespace quillon
