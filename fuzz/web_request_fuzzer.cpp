// Any bytes as a request to the web server and as a message on its
// WebSocket. As a request: every answer is a known status, every refusal's
// body is JSON, and a server with a token lets in only a request that
// carries it. As a message: the control service of a read-only server
// answers each with one JSON reply and never presses a key, gives a fault or
// ends the program.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/idle_panel.h"
#include "host/control_service.h"
#include "host/web_server.h"

namespace {

using quillon::fuzzing::Check;

constexpr const char* kToken = "t0ken";

void CheckRequest(std::string_view bytes, const std::string& token)
{
    using namespace quillon;
    const WebJudgement judged = JudgeWebRequest(bytes, token, 8080);
    const int known[] = {0, 101, 200, 400, 401, 403, 404, 405, 413};
    Check(std::find(std::begin(known), std::end(known), judged.status) != std::end(known));
    const bool refused = judged.status >= 400;
    Check(refused == !judged.body.empty());
    if (refused) {
        std::string error;
        const auto body = ParseJson(judged.body, error);
        Check(body && (*body)["ok"] == false);
    }
    if (!token.empty() && (judged.status == 101 || judged.status == 200)) {
        Check(bytes.find(token) != std::string_view::npos);
    }
}

void CheckMessage(std::string_view bytes)
{
    using namespace quillon;
    fuzzing::IdlePanel panel;
    std::vector<std::string> replies;
    ControlService service(
        panel.host, [&](LineServer::ClientId, const std::string& reply) { replies.push_back(reply); },
        ControlRights{.quit = false, .keysAndFaults = false, .displayEvents = true});
    std::string error;
    const auto request = ParseControlRequest(bytes, error);
    // A wait would answer later; large pictures are slow to compress.
    if (request && (request->cmd == "wait-text" || request->cmd == "screenshot")) {
        return;
    }
    service.Handle(1, std::string(bytes));
    Check(!replies.empty());
    for (const std::string& reply : replies) {
        Check(ParseJson(reply, error).has_value());
    }
    Check(panel.host.engine().keys().bits() == 0);
    Check(panel.faults.Rules().empty());
    Check(!service.quitRequested());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckRequest(bytes, "");
    CheckRequest(bytes, kToken);
    CheckMessage(bytes);
    return 0;
}
