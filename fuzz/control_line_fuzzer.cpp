// Any bytes on the control socket: cut into lines (64 kB at most), each
// parsed as a request and handled by the control service on a panel whose
// link is idle and takes faults. Every line gets exactly one reply, every reply is JSON that
// reads back the same, and nothing crashes or hangs.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/idle_panel.h"
#include "host/control_service.h"
#include "serial/line_splitter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quillon;
    using fuzzing::Check;
    fuzzing::IdlePanel panel;
    std::vector<std::string> replies;
    ControlService service(panel.host,
                           [&](LineServer::ClientId, const std::string& reply) { replies.push_back(reply); });

    // The first byte chooses the line limit, so that too-long lines come up
    // within the fuzzer's input sizes as well as the real 64 kB.
    const std::size_t limit = size > 0 && data[0] < 0x80 ? 1 + data[0] : LineServer::kLineLimit;
    LineSplitter splitter(limit);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t expected = 0;
    int screenshots = 0;
    for (std::size_t at = 0; at < bytes.size(); at += 7) {
        for (auto& piece : splitter.Feed(bytes.substr(at, 7))) {
            Check(piece.text.size() <= limit);
            Check(piece.text.find('\n') == std::string::npos);
            if (piece.tooLong) {
                continue;
            }
            // A wait would answer later; on an idle link its time-out is all
            // that could end it, so the fuzzer does not send those.
            std::string error;
            const auto request = ParseControlRequest(piece.text, error);
            Check(request.has_value() != !error.empty());
            if (request && (request->cmd == "wait-text" || request->cmd == "click")) {
                continue;
            }
            // Large pictures are slow to compress; a few per input cover them.
            if (request && request->cmd == "screenshot" && ++screenshots > 4) {
                continue;
            }
            service.Handle(1, piece.text);
            ++expected;
        }
    }
    Check(replies.size() == expected);
    for (const std::string& reply : replies) {
        std::string error;
        const auto json = ParseJson(reply, error);
        Check(json.has_value());
        Check(DumpJson(*json) == reply);
    }
    return 0;
}
