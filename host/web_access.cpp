#include "host/web_access.h"

#include <array>
#include <random>

#include "host/json.h"

namespace quillon {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string PercentDecoded(std::string_view text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += text[i] == '+' ? ' ' : text[i];
        }
    }
    return decoded;
}

// Compares in a time that does not tell how much of a guess was right.
bool SameSecret(std::string_view a, std::string_view b)
{
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    }
    return differ == 0;
}

} // namespace

std::string_view TargetPath(std::string_view target)
{
    return target.substr(0, target.find('?'));
}

std::optional<std::string> QueryValue(std::string_view target, std::string_view name)
{
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t equals = pair.find('=');
        if (PercentDecoded(pair.substr(0, equals)) == name) {
            return PercentDecoded(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
        }
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return std::nullopt;
}

bool IsLoopbackAddress(std::string_view host)
{
    return host == "localhost" || host == "::1" || host == "[::1]" || host.starts_with("127.");
}

std::string MakeWebToken()
{
    std::random_device random;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t word = random();
        for (int shift = 28; shift >= 0; shift -= 4) {
            token += "0123456789abcdef"[(word >> shift) & 0xF];
        }
    }
    return token;
}

std::string WebErrorBody(const std::string& error)
{
    Json body;
    body["ok"] = false;
    body["error"] = error;
    return DumpJson(body);
}

bool WebAccess::HostIsLoopback(std::string_view host) const
{
    const std::string port = ":" + std::to_string(port_);
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
        if (host == std::string(name) + port) {
            return true;
        }
    }
    return false;
}

bool WebAccess::HasToken(const WebRequest& request) const
{
    constexpr std::string_view kBearer = "Bearer ";
    if (request.authorization.starts_with(kBearer) &&
        SameSecret(request.authorization.substr(kBearer.size()), token_)) {
        return true;
    }
    const auto given = QueryValue(request.target, "token");
    return given && SameSecret(*given, token_);
}

std::optional<WebRefusal> WebAccess::Check(const WebRequest& request) const
{
    if (token_.empty() && !HostIsLoopback(request.host)) {
        return WebRefusal{403, "Host \"" + std::string(request.host) +
                                   "\" is not this server: open http://127.0.0.1:" + std::to_string(port_) + "/"};
    }
    if (!token_.empty() && !HasToken(request)) {
        return WebRefusal{401, "this server needs its token, as ?token= or an Authorization: Bearer header"};
    }
    if (request.websocket && !request.origin.empty() && request.origin != "http://" + std::string(request.host)) {
        return WebRefusal{403, "a page from " + std::string(request.origin) + " may not use this server"};
    }
    return std::nullopt;
}

} // namespace quillon
