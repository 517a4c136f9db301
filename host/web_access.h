#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// What the web server's access rules read of a request.
struct WebRequest {
    std::string_view target;
    std::string_view host;
    std::string_view origin;
    std::string_view authorization;
    bool websocket = false;
};

// An answer that lets a request go no further: the HTTP status and why.
struct WebRefusal {
    int status = 0;
    std::string error;
};

// Who may use the web server. With no token it serves only loopback and
// takes only requests addressed to 127.0.0.1, localhost or [::1] with its
// port, so a page that reaches it through a DNS name of its own is refused.
// With a token every request must carry it, as ?token= or as an
// "Authorization: Bearer" header. A WebSocket is refused to a page of
// another origin than the server's own.
class WebAccess {
public:
    WebAccess(std::string token, std::uint16_t port) : token_(std::move(token)), port_(port) {}
    std::optional<WebRefusal> Check(const WebRequest& request) const;

private:
    bool HostIsLoopback(std::string_view host) const;
    bool HasToken(const WebRequest& request) const;

    std::string token_;
    std::uint16_t port_;
};

// The path of a request's target, without its query.
std::string_view TargetPath(std::string_view target);
// A query parameter of a request's target, percent-decoded; nothing when absent.
std::optional<std::string> QueryValue(std::string_view target, std::string_view name);
// Whether a host to bind names the loopback interface.
bool IsLoopbackAddress(std::string_view host);
// 32 hex digits from the system's random source.
std::string MakeWebToken();
// {"ok":false,"error":...}, the body of every refusal.
std::string WebErrorBody(const std::string& error);

} // namespace quillon
