#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/json.h"
#include "host/panel_host.h"
#include "serial/line_server.h"
#include "trace/trace_rows.h"

namespace quillon {

// One request line of the control socket: {"cmd": "...", "id": ..., ...}.
struct ControlRequest {
    // Echoed in the reply so a client can match them; null when not given.
    Json id;
    std::string cmd;
    Json body;
};
// Nothing, with the reason, for a line that is not a JSON object with a
// "cmd" string.
std::optional<ControlRequest> ParseControlRequest(std::string_view line, std::string& error);

// What a server of the protocol lets its clients do, and what it adds.
struct ControlRights {
    // quit ends the program; a server others reach over the network refuses it.
    bool quit = true;
    // press, click, release, fault and clear-faults; refused when read-only.
    bool keysAndFaults = true;
    // After subscribe, a "display" event with the display memory each time it
    // has changed, the latest of a turn of the host's loop.
    bool displayEvents = false;
};

// The control socket's protocol (JSON Lines) on the panel host: key presses,
// the screen's text and picture, the display memory, waits and the event
// stream. Lines arrive on the server's thread and are handled on the host's;
// replies leave through the sink.
class ControlService final : public LineServer::Handler {
public:
    using ClientId = LineServer::ClientId;
    using Sink = std::function<void(ClientId, const std::string&)>;

    ControlService(PanelHost& host, Sink sink, ControlRights rights = {});
    ~ControlService() override;
    ControlService(const ControlService&) = delete;
    ControlService& operator=(const ControlService&) = delete;

    // Server thread.
    void OnLine(ClientId client, std::string line) override;
    void OnLineTooLong(ClientId client) override;
    void OnClosed(ClientId client) override;

    // Host thread.
    void Handle(ClientId client, const std::string& line);
    void Forget(ClientId client);
    bool quitRequested() const { return quit_; }
    // The rows read from the screen, as the text request answers them.
    Json ScreenRows();

private:
    struct Waiting {
        ClientId client = 0;
        Json id;
        std::function<bool()> done;
        PanelHost::Moment deadline;
        std::string what;
        std::uint32_t timeoutMs = 0;
        int listener = 0;
        // A wait for the screen says what it reads when it times out.
        bool forScreen = false;
    };

    void Reply(ClientId client, const Json& id, Json body);
    void Fail(ClientId client, const Json& id, const std::string& error);
    void CheckWaits();
    void SendDisplay();
    Json DisplayEvent();
    std::string Refusal(const std::string& cmd) const;
    void Wait(ClientId client, const ControlRequest& request, std::function<bool()> done, const std::string& what,
              int listener = 0, bool forScreen = false);

    // The commands, each with the fields it takes and its handler.
    struct Command;
    static const std::vector<Command>& Commands();
    static std::string Unfit(const ControlRequest& request, const Command& command);
    void Press(ClientId client, const ControlRequest& request);
    void Release(ClientId client, const ControlRequest& request);
    void ReadText(ClientId client, const ControlRequest& request);
    void TakeScreenshot(ClientId client, const ControlRequest& request);
    void ReadDisplay(ClientId client, const ControlRequest& request);
    void WaitText(ClientId client, const ControlRequest& request);
    void Subscribe(ClientId client, const ControlRequest& request);
    void Unsubscribe(ClientId client, const ControlRequest& request);
    void StopEvents(ClientId client);
    void StopRows(ClientId client);
    void SendEvent(const LinkEvent& event);
    void Painted(ClientId client, const ControlRequest& request);
    void Status(ClientId client, const ControlRequest& request);
    void AddFault(ClientId client, const ControlRequest& request);
    void ClearFaults(ClientId client, const ControlRequest& request);
    void Quit(ClientId client, const ControlRequest& request);

    PanelHost& host_;
    Sink sink_;
    const ControlRights rights_;
    std::vector<Waiting> waits_;
    std::set<ClientId> subscribers_;
    // Subscribers that take the trace's rows in place of the link's events,
    // and the rows built once for all of them while there are any.
    std::set<ClientId> rowSubscribers_;
    std::optional<TraceBuilder> rows_;
    // Listens to the host while anyone subscribes; 0 when nobody does.
    int eventListener_ = 0;
    bool quit_ = false;
    // The client whose press holds a key, let go when it goes.
    std::optional<ClientId> holder_;
    std::uint64_t displaySent_ = 0;
    // Shared with the work posted from the server thread, so that work left
    // after this object has gone does nothing.
    std::shared_ptr<ControlService*> self_;
};

} // namespace quillon
