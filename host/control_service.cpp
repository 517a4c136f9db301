#include "host/control_service.h"

#include <algorithm>
#include <cmath>

#include "host/picture.h"
#include "host/png.h"
#include "host/words.h"
#include "link/fault_rules.h"
#include "protocol/protocol.h"
#include "trace/trace_rows.h"

namespace quillon {

namespace {

constexpr int kLargestScale = 16;
constexpr const char* kNoFaults = "this link takes no faults";

// Milliseconds to the microsecond, which is all a clock reading here is worth.
double Rounded(double ms)
{
    return std::round(ms * 1000) / 1000;
}

std::string Hex(std::span<const std::uint8_t> bytes, const char* separator)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text += i == 0 ? "" : separator;
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

const char* TimeoutName(LinkTimeout timeout)
{
    switch (timeout) {
    case LinkTimeout::ReceiveError:
        return "receive-error";
    case LinkTimeout::Silence:
        return "silence";
    case LinkTimeout::None:
        break;
    }
    return "none";
}

// An event of the link as one JSON line; nothing for the per-byte events,
// which would flood a test framework.
std::optional<Json> EventJson(const LinkEvent& event, double t)
{
    Json json;
    const auto base = [&](const char* kind) {
        json["event"] = kind;
        json["t"] = JsonNumber(t);
        json["block"] = event.block;
        json["bytes"] = Hex(event.bytes(), " ");
    };
    switch (event.kind) {
    case LinkEventKind::FrameExecuted: {
        base("frame");
        const std::uint8_t code = event.length > 0 ? event.data[0] & kFunctionCodeMask : 0;
        json["code"] = code;
        json["name"] = std::string(FunctionName(code));
        json["executed"] = event.executed;
        json["errors"] = event.frameErrors | event.commandErrors;
        json["injected"] = event.injected;
        break;
    }
    case LinkEventKind::ReplySent:
        base("reply");
        json["status"] = event.status;
        json["key"] = std::string(KeyName(event.status >> kStatusKeyShift));
        json["timeout"] = TimeoutName(event.timeout);
        break;
    case LinkEventKind::SynchRequestSent:
        base("sync");
        break;
    case LinkEventKind::TimeoutReply:
        base("timeout");
        json["timeout"] = TimeoutName(event.timeout);
        break;
    case LinkEventKind::ErrorRaised:
        base("error");
        json["rx_errors"] = event.rxErrors;
        break;
    case LinkEventKind::BytesRefused:
        base("refused");
        json["count"] = event.value;
        json["rx_errors"] = event.rxErrors;
        break;
    case LinkEventKind::EventsDropped:
        json["event"] = "dropped";
        json["t"] = JsonNumber(t);
        json["count"] = event.dropped;
        json["device_bytes"] = event.value;
        break;
    case LinkEventKind::FaultInjected:
        base("fault");
        json["fault"] = std::string(FaultKindName(event.fault));
        json["rule"] = std::string(event.rule.data());
        json["sent"] = Hex(FaultSentBytes(event), " ");
        json["meaning"] = DescribeFault(event);
        break;
    default:
        return std::nullopt;
    }
    return json;
}

// The display memory as the display request answers it: the 8 pages in hex.
Json DisplayPages(const DisplayMemory& display)
{
    Json pages = Json::array();
    for (int page = 0; page < kDisplayPages; ++page) {
        pages.push_back(Hex(display.PageBytes(page), ""));
    }
    return {{"pages", std::move(pages)}, {"changes", display.changeCount()}};
}

std::optional<std::uint32_t> TimeoutOf(const Json& body, std::string& error)
{
    const auto value = body.find("timeout_ms");
    if (value == body.end()) {
        return kDefaultWaitTimeoutMs;
    }
    const double number = value->is_number() ? value->get<double>() : -1;
    if (number < 0 || number > 86'400'000) {
        error = "timeout_ms must be a number of milliseconds up to a day";
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

const std::string* StringMember(const Json& body, const char* name)
{
    const auto value = body.find(name);
    return value == body.end() ? nullptr : value->get_ptr<const std::string*>();
}

// A fault rule from a request's fields: {"cmd": "fault", "kind":
// "drop-reply", "every": 3}.
std::optional<FaultRule> FaultOf(const Json& body, std::string& error)
{
    const std::string* kind = StringMember(body, "kind");
    if (kind == nullptr) {
        error = "fault needs \"kind\", one of " + FaultKindList();
        return std::nullopt;
    }
    std::vector<std::pair<std::string, std::string>> keys;
    for (const auto& [name, value] : body.items()) {
        if (name == "id" || name == "cmd" || name == "kind") {
            continue;
        }
        if (!value.is_number() && !value.is_string()) {
            error = "fault: \"" + name + "\" must be a number or a string";
            return std::nullopt;
        }
        // A number of milliseconds, as every time on the socket is.
        const bool time = name == "for" || name == "after";
        keys.emplace_back(name, value.is_string() ? value.get<std::string>() : DumpJson(value) + (time ? "ms" : ""));
    }
    return ParseFaultFields(*kind, keys, error);
}

} // namespace

std::optional<ControlRequest> ParseControlRequest(std::string_view line, std::string& error)
{
    std::string why;
    auto json = ParseJson(line, why);
    if (!json) {
        error = "not JSON: " + why;
        return std::nullopt;
    }
    if (!json->is_object()) {
        error = "a request is a JSON object such as {\"cmd\": \"text\"}";
        return std::nullopt;
    }
    const std::string* cmd = StringMember(*json, "cmd");
    if (cmd == nullptr) {
        error = "a request needs \"cmd\", a string";
        return std::nullopt;
    }
    ControlRequest request;
    if (const auto id = json->find("id"); id != json->end()) {
        request.id = *id;
    }
    request.cmd = *cmd;
    request.body = std::move(*json);
    return request;
}

ControlService::ControlService(PanelHost& host, Sink sink, ControlRights rights)
    : host_(host), sink_(std::move(sink)), rights_(rights), self_(std::make_shared<ControlService*>(this))
{
    host_.AddTurnHook([self = std::weak_ptr<ControlService*>(self_)] {
        if (const auto service = self.lock()) {
            (*service)->CheckWaits();
            (*service)->SendDisplay();
        }
    });
}

ControlService::~ControlService()
{
    host_.RemoveListener(eventListener_);
    for (const Waiting& wait : waits_) {
        host_.RemoveListener(wait.listener);
    }
}

void ControlService::OnLine(ClientId client, std::string line)
{
    host_.Post([self = std::weak_ptr<ControlService*>(self_), client, line = std::move(line)] {
        if (const auto service = self.lock()) {
            (*service)->Handle(client, line);
        }
    });
}

void ControlService::OnLineTooLong(ClientId client)
{
    host_.Post([self = std::weak_ptr<ControlService*>(self_), client] {
        if (const auto service = self.lock()) {
            (*service)->Fail(client, nullptr,
                             "line longer than " + std::to_string(LineServer::kLineLimit) + " bytes; it was ignored");
        }
    });
}

void ControlService::OnClosed(ClientId client)
{
    host_.Post([self = std::weak_ptr<ControlService*>(self_), client] {
        if (const auto service = self.lock()) {
            (*service)->Forget(client);
        }
    });
}

void ControlService::Forget(ClientId client)
{
    // A key is never left pressed by a client that has gone.
    if (holder_ == client) {
        host_.engine().keys().Release();
        holder_.reset();
    }
    StopEvents(client);
    std::erase_if(waits_, [&](const Waiting& wait) {
        if (wait.client == client) {
            host_.RemoveListener(wait.listener);
        }
        return wait.client == client;
    });
}

void ControlService::Reply(ClientId client, const Json& id, Json body)
{
    Json reply;
    reply["id"] = id;
    reply["ok"] = true;
    for (auto& [name, value] : body.items()) {
        reply[name] = std::move(value);
    }
    sink_(client, DumpJson(reply));
}

void ControlService::Fail(ClientId client, const Json& id, const std::string& error)
{
    Json reply;
    reply["id"] = id;
    reply["ok"] = false;
    reply["error"] = error;
    sink_(client, DumpJson(reply));
}

Json ControlService::ScreenRows()
{
    Json rows = Json::array();
    for (const TextRun& run : host_.ScreenText()) {
        rows.push_back({{"page", run.page},
                        {"column", run.column},
                        {"size", run.size},
                        {"inverse", run.AllInverse()},
                        {"text", PanelTextToUtf8(run.text)}});
    }
    return rows;
}

void ControlService::Wait(ClientId client, const ControlRequest& request, std::function<bool()> done,
                          const std::string& what, int listener, bool forScreen)
{
    std::string error;
    const auto timeout = TimeoutOf(request.body, error);
    if (!timeout) {
        host_.RemoveListener(listener);
        Fail(client, request.id, error);
        return;
    }
    waits_.push_back({client, request.id, std::move(done),
                      std::chrono::steady_clock::now() + std::chrono::milliseconds(*timeout), what, *timeout, listener,
                      forScreen});
    CheckWaits();
}

void ControlService::CheckWaits()
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<Waiting> finished;
    std::erase_if(waits_, [&](Waiting& wait) {
        const bool over = wait.done() || now >= wait.deadline;
        if (over) {
            finished.push_back(std::move(wait));
        }
        return over;
    });
    for (const Waiting& wait : finished) {
        host_.RemoveListener(wait.listener);
        if (wait.done()) {
            const double waited = static_cast<double>(wait.timeoutMs) -
                                  std::chrono::duration<double, std::milli>(wait.deadline - now).count();
            Reply(wait.client, wait.id, {{"waited_ms", JsonNumber(Rounded(waited))}});
        } else {
            Fail(wait.client, wait.id,
                 "timed out after " + std::to_string(wait.timeoutMs) + " ms waiting for " + wait.what +
                     (wait.forScreen ? "; it reads: " + ScreenReads(host_.ScreenText()) : ""));
        }
    }
}

// Every command with the fields it takes besides id and cmd, in the order
// the unknown-command message lists them, and its handler.
struct ControlService::Command {
    std::string_view name;
    std::vector<std::string_view> fields;
    void (ControlService::*handle)(ClientId, const ControlRequest&);
};

const std::vector<ControlService::Command>& ControlService::Commands()
{
    static const std::vector<Command> commands{
        {"press", {"key"}, &ControlService::Press},
        {"release", {}, &ControlService::Release},
        {"click", {"key"}, &ControlService::Press},
        {"text", {}, &ControlService::ReadText},
        {"screenshot", {"scale"}, &ControlService::TakeScreenshot},
        {"display", {}, &ControlService::ReadDisplay},
        {"wait-text", {"text", "timeout_ms", "inverse"}, &ControlService::WaitText},
        {"subscribe", {"rows"}, &ControlService::Subscribe},
        {"unsubscribe", {}, &ControlService::Unsubscribe},
        {"painted", {"t"}, &ControlService::Painted},
        {"status", {}, &ControlService::Status},
        {"fault", {"kind", "every", "at", "p", "after", "ms", "for", "keep", "bit"}, &ControlService::AddFault},
        {"clear-faults", {}, &ControlService::ClearFaults},
        {"quit", {}, &ControlService::Quit},
    };
    return commands;
}

// Why a request cannot be handled by its command as it stands: a field the
// command does not take; empty when it can.
std::string ControlService::Unfit(const ControlRequest& request, const Command& command)
{
    for (const auto& [name, value] : request.body.items()) {
        if (name == "id" || name == "cmd" ||
            std::find(command.fields.begin(), command.fields.end(), name) != command.fields.end()) {
            continue;
        }
        std::string fields = "id, cmd";
        for (const std::string_view field : command.fields) {
            fields += ", " + std::string(field);
        }
        return request.cmd + " has no field \"" + name + "\"; its fields are " + fields;
    }
    return {};
}

void ControlService::Handle(ClientId client, const std::string& line)
{
    std::string error;
    const auto request = ParseControlRequest(line, error);
    if (!request) {
        Fail(client, nullptr, error);
        return;
    }
    const auto& commands = Commands();
    const auto command = std::find_if(commands.begin(), commands.end(),
                                      [&](const Command& known) { return known.name == request->cmd; });
    if (command == commands.end()) {
        std::string names;
        for (const Command& known : commands) {
            names += (names.empty() ? "" : ", ") + std::string(known.name);
        }
        Fail(client, request->id, "unknown cmd \"" + request->cmd + "\"; the commands are " + names);
        return;
    }
    if (const std::string unfit = Unfit(*request, *command); !unfit.empty()) {
        Fail(client, request->id, unfit);
        return;
    }
    if (const std::string refused = Refusal(request->cmd); !refused.empty()) {
        Fail(client, request->id, refused);
        return;
    }
    (this->*command->handle)(client, *request);
}

// Why this server does not take a command; empty when it does.
std::string ControlService::Refusal(const std::string& cmd) const
{
    if (cmd == "quit" && !rights_.quit) {
        return "quit is not taken here; stop the program where it runs";
    }
    const bool pressesOrFaults =
        cmd == "press" || cmd == "click" || cmd == "release" || cmd == "fault" || cmd == "clear-faults";
    if (pressesOrFaults && !rights_.keysAndFaults) {
        return cmd + " refused: this server is read-only, it takes no keys and no faults";
    }
    if (cmd == "painted" && !rights_.displayEvents) {
        return "painted is taken only where display events are sent: the web server's WebSocket";
    }
    return {};
}

// press and click.
void ControlService::Press(ClientId client, const ControlRequest& request)
{
    const std::string* name = StringMember(request.body, "key");
    const std::uint8_t bit = name == nullptr ? 0 : KeyBit(*name);
    if (bit == 0) {
        Fail(client, request.id,
             request.cmd + " needs \"key\": up, down, left or right" +
                 (name == nullptr ? std::string() : ", not \"" + *name + "\"" + KeySuggestion(*name)));
        return;
    }
    KeyLatch& keys = host_.engine().keys();
    keys.Press(bit);
    if (request.cmd == "press") {
        holder_ = client;
        Reply(client, request.id, nullptr);
        return;
    }
    // Let go at once: the latch keeps the key until a reply has carried it.
    keys.Release();
    auto click = std::make_shared<ClickWatch>(bit);
    const int listener = host_.FollowClick(click);
    Wait(
        client, request, [click] { return click->done(); }, "the replies to carry the key and let it go", listener);
}

void ControlService::Release(ClientId client, const ControlRequest& request)
{
    host_.engine().keys().Release();
    holder_.reset();
    Reply(client, request.id, nullptr);
}

void ControlService::ReadText(ClientId client, const ControlRequest& request)
{
    Reply(client, request.id, {{"rows", ScreenRows()}});
}

void ControlService::TakeScreenshot(ClientId client, const ControlRequest& request)
{
    int scale = 1;
    if (const auto value = request.body.find("scale"); value != request.body.end()) {
        const double number = value->is_number() ? value->get<double>() : 0;
        if (number < 1 || number > kLargestScale || number != static_cast<int>(number)) {
            Fail(client, request.id, "scale must be a whole number from 1 to 16");
            return;
        }
        scale = static_cast<int>(number);
    }
    const IndexedImage image = Screenshot(Bitmap(host_.engine().display()), scale);
    Reply(client, request.id, {{"width", image.width}, {"height", image.height}, {"png", Base64(EncodePng(image))}});
}

void ControlService::ReadDisplay(ClientId client, const ControlRequest& request)
{
    Reply(client, request.id, DisplayPages(host_.engine().display()));
}

Json ControlService::DisplayEvent()
{
    Json event;
    event["event"] = "display";
    event["t"] = JsonNumber(Rounded(host_.Elapsed()));
    Json pages = DisplayPages(host_.engine().display());
    for (auto& [name, value] : pages.items()) {
        event[name] = std::move(value);
    }
    return event;
}

// The display once a turn, when it has changed, to every subscriber.
void ControlService::SendDisplay()
{
    const std::uint64_t changes = host_.engine().display().changeCount();
    if (!rights_.displayEvents || subscribers_.empty() || changes == displaySent_) {
        return;
    }
    displaySent_ = changes;
    const std::string line = DumpJson(DisplayEvent());
    for (const ClientId client : subscribers_) {
        sink_(client, line);
    }
}

void ControlService::WaitText(ClientId client, const ControlRequest& request)
{
    const std::string* text = StringMember(request.body, "text");
    const auto panel = text == nullptr ? std::nullopt : Utf8ToPanelText(*text);
    if (!panel || panel->empty()) {
        Fail(client, request.id, "wait-text needs \"text\", a non-empty string the panel's font can show");
        return;
    }
    const bool inverse = request.body.value("inverse", Json(false)) == true;
    Wait(
        client, request,
        [this, wanted = *panel, inverse] { return FindText(host_.ScreenText(), wanted, inverse).has_value(); },
        "\"" + *text + "\"" + (inverse ? " drawn inverse" : "") + " on the screen", 0, true);
}

// An event to every subscriber, each line written once: as the link's event
// to those that take events, and into the trace's rows for those that take
// rows.
void ControlService::SendEvent(const LinkEvent& event)
{
    if (rows_) {
        rows_->OnLinkEvent(event);
    }
    if (subscribers_.size() == rowSubscribers_.size()) {
        return;
    }
    if (auto json = EventJson(event, Rounded(host_.Elapsed()))) {
        const std::string line = DumpJson(*json);
        for (const ClientId subscriber : subscribers_) {
            if (!rowSubscribers_.contains(subscriber)) {
                sink_(subscriber, line);
            }
        }
    }
}

void ControlService::Subscribe(ClientId client, const ControlRequest& request)
{
    if (subscribers_.empty()) {
        eventListener_ = host_.AddListener([this](const LinkEvent& event) { SendEvent(event); });
    }
    subscribers_.insert(client);
    if (request.body.value("rows", Json(false)) != true) {
        StopRows(client);
    } else if (rowSubscribers_.insert(client).second && !rows_) {
        // Row times count from the program's start, as the other events' do.
        const std::uint64_t nowUs = host_.clock().NowMicros();
        const auto elapsedUs = static_cast<std::uint64_t>(host_.Elapsed() * 1000);
        rows_.emplace(nowUs > elapsedUs ? nowUs - elapsedUs : 0, [this](const TraceRow& row) {
            const std::string line = R"({"event":"row","row":)" + FormatJsonRow(row) + "}";
            for (const ClientId subscriber : rowSubscribers_) {
                sink_(subscriber, line);
            }
        });
    }
    Reply(client, request.id, nullptr);
    // A new subscriber draws the display at once.
    if (rights_.displayEvents) {
        sink_(client, DumpJson(DisplayEvent()));
    }
}

void ControlService::Unsubscribe(ClientId client, const ControlRequest& request)
{
    StopEvents(client);
    Reply(client, request.id, nullptr);
}

void ControlService::StopRows(ClientId client)
{
    if (rowSubscribers_.erase(client) > 0 && rowSubscribers_.empty()) {
        rows_.reset();
    }
}

void ControlService::StopEvents(ClientId client)
{
    StopRows(client);
    if (subscribers_.erase(client) > 0 && subscribers_.empty()) {
        host_.RemoveListener(eventListener_);
        eventListener_ = 0;
    }
}

// A page tells it has painted the display event of time t: the reply is how
// long after the change that was, on the clock that timed the change.
void ControlService::Painted(ClientId client, const ControlRequest& request)
{
    const auto t = request.body.find("t");
    if (t == request.body.end() || !t->is_number()) {
        Fail(client, request.id, "painted needs \"t\", the time of the display event painted");
        return;
    }
    Reply(client, request.id, {{"latency_ms", JsonNumber(Rounded(host_.Elapsed() - t->get<double>()))}});
}

void ControlService::Status(ClientId client, const ControlRequest& request)
{
    const LinkStats& stats = host_.stats();
    Reply(client, request.id,
          {{"replies", stats.replies},
           {"error_replies", stats.errorReplies},
           {"timeout_replies", stats.timeoutReplies},
           {"frames", stats.framesExecuted},
           {"synch_requests", stats.synchRequests},
           {"keys", host_.engine().keys().bits()},
           {"faults", host_.faults() != nullptr ? Json(host_.faults()->Rules()) : Json::array()}});
}

void ControlService::AddFault(ClientId client, const ControlRequest& request)
{
    if (host_.faults() == nullptr) {
        Fail(client, request.id, kNoFaults);
        return;
    }
    std::string error;
    const auto rule = FaultOf(request.body, error);
    if (!rule) {
        Fail(client, request.id, error);
        return;
    }
    host_.faults()->Add(*rule);
    Reply(client, request.id, {{"rule", FaultRuleText(*rule)}});
}

void ControlService::ClearFaults(ClientId client, const ControlRequest& request)
{
    if (host_.faults() == nullptr) {
        Fail(client, request.id, kNoFaults);
        return;
    }
    host_.faults()->Clear();
    Reply(client, request.id, nullptr);
}

void ControlService::Quit(ClientId client, const ControlRequest& request)
{
    quit_ = true;
    Reply(client, request.id, nullptr);
}

} // namespace quillon
