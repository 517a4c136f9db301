#include "host/web_server.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "host/control_service.h"
#include "host/display_pacer.h"
#include "host/panel_host.h"
#include "host/picture.h"
#include "host/png.h"
#include "host/web_access.h"
#include "host/web_assets.h"

namespace quillon {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using ClientId = LineServer::ClientId;
using Request = http::request<http::string_body>;

// Event rows queued for one client; beyond them rows are dropped and counted.
constexpr std::size_t kEventBound = 256;
// Replies a client has not read; a client this far behind is let go.
constexpr std::size_t kReplyBytesBound = 8 << 20;
constexpr std::uint32_t kHeaderLimit = 16 * 1024;
constexpr int kSendBuffer = 64 * 1024;
constexpr auto kRequestTime = std::chrono::seconds(30);
constexpr int kLargestScale = 16;
constexpr std::string_view kDisplayEvent = R"({"event":"display")";
constexpr std::string_view kEvent = R"({"event")";
constexpr std::string_view kFullPage = R"(data-mode="full")";
constexpr std::string_view kReadOnlyPage = R"(data-mode="read-only")";

class WebSocketSession;
class HttpSession;

// What the host's thread has for one WebSocket client: its replies and
// events in order, and the latest display apart, which a newer one replaces
// and which goes at most once an animation frame.
struct Outbox {
    explicit Outbox(Clock& clock) : display(clock) {}
    struct Line {
        std::string text;
        bool event = false;
    };
    std::deque<Line> lines;
    std::size_t events = 0;
    std::size_t bytes = 0;
    DisplayPacer display;
    std::uint64_t notShown = 0;
    bool writing = false;
    // A wake of the writer is on its way to the server's thread: the lines
    // queued meanwhile need no other.
    bool woken = false;
    std::weak_ptr<WebSocketSession> session;
};

// What a client's writer is to send next, and when it is to look again for
// a display held back till its frame.
struct Next {
    std::optional<std::string> line;
    std::optional<std::uint64_t> displayInUs;
};

// An answer of the host's thread to a plain request.
struct Answer {
    http::status status = http::status::ok;
    std::string type;
    std::string body;
};

// What the server's thread, its sessions and the work posted to the host
// share. The io context is there only while it runs.
struct Core {
    explicit Core(WebAccess access) : access(std::move(access)) {}

    // Host thread: queues a line for a client, never waiting for the network.
    void Send(ClientId client, const std::string& line);
    // Any thread: runs work on the server's thread while it runs.
    void Dispatch(std::function<void()> work);
    Next Take(ClientId client);
    void Finished(ClientId client);

    WebAccess access;
    SteadyClock clock;
    bool readOnly = false;
    std::mutex mutex;
    asio::io_context* io = nullptr;
    std::map<ClientId, Outbox> outboxes;
    std::map<HttpSession*, std::shared_ptr<HttpSession>> parked;
    int connections = 0;
    ClientId nextClient = 1;
    // The server's thread only, while it runs.
    ControlService* control = nullptr;
    // The host's thread only: null once the server has ended.
    ControlService* hostControl = nullptr;
    PanelHost* host = nullptr;
};

// One connection counted against the limit while it is held.
class Ticket {
public:
    explicit Ticket(std::shared_ptr<Core> core) : core_(std::move(core))
    {
        std::lock_guard lock(core_->mutex);
        counted_ = core_->connections < WebServer::kConnectionLimit;
        core_->connections += counted_ ? 1 : 0;
    }
    ~Ticket()
    {
        std::lock_guard lock(core_->mutex);
        core_->connections -= counted_ ? 1 : 0;
    }
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    bool counted() const { return counted_; }

private:
    std::shared_ptr<Core> core_;
    bool counted_ = false;
};

void Core::Dispatch(std::function<void()> work)
{
    std::lock_guard lock(mutex);
    if (io != nullptr) {
        asio::post(*io, std::move(work));
    }
}

class WebSocketSession : public std::enable_shared_from_this<WebSocketSession> {
public:
    WebSocketSession(tcp::socket socket, std::shared_ptr<Core> core, std::unique_ptr<Ticket> ticket)
        : ws_(std::move(socket)), core_(std::move(core)), ticket_(std::move(ticket)), timer_(ws_.get_executor())
    {
    }
    void Accept(Request&& request);
    void WriteNext();
    void Drop() { beast::get_lowest_layer(ws_).close(); }

private:
    void Opened();
    void Read();
    void OnRead(beast::error_code error);
    void WakeIn(std::uint64_t us);
    void Close();

    websocket::stream<beast::tcp_stream> ws_;
    std::shared_ptr<Core> core_;
    std::unique_ptr<Ticket> ticket_;
    Request request_;
    beast::flat_buffer buffer_;
    std::string message_;
    bool tooLong_ = false;
    ClientId client_ = 0;
    std::string writing_;
    bool closed_ = false;
    asio::steady_timer timer_;
    bool timing_ = false;
};

void Core::Send(ClientId client, const std::string& line)
{
    std::lock_guard lock(mutex);
    const auto found = outboxes.find(client);
    if (io == nullptr || found == outboxes.end()) {
        return;
    }
    Outbox& box = found->second;
    const bool event = line.starts_with(kEvent);
    if (line.starts_with(kDisplayEvent)) {
        box.display.Keep(line);
    } else if (event && box.events >= kEventBound) {
        ++box.notShown;
        return;
    } else if (!event && box.bytes > kReplyBytesBound) {
        asio::post(*io, [session = box.session] {
            if (const auto open = session.lock()) {
                open->Drop();
            }
        });
        return;
    } else {
        box.lines.push_back({line, event});
        box.events += event ? 1 : 0;
        box.bytes += line.size();
    }
    if (!box.writing && !std::exchange(box.woken, true)) {
        asio::post(*io, [session = box.session] {
            if (const auto open = session.lock()) {
                open->WriteNext();
            }
        });
    }
}

// The next line for a client, the display first when its frame has come;
// no line when it has none or one is on its way.
Next Core::Take(ClientId client)
{
    std::lock_guard lock(mutex);
    const auto found = outboxes.find(client);
    if (found == outboxes.end()) {
        return {};
    }
    Outbox& box = found->second;
    box.woken = false;
    if (box.writing) {
        return {};
    }
    std::optional<std::string> next = box.display.Take();
    if (!next && box.notShown > 0 && box.events < kEventBound / 2) {
        next = R"({"event":"not-shown","count":)" + std::to_string(box.notShown) + "}";
        box.notShown = 0;
    } else if (!next && !box.lines.empty()) {
        next = std::move(box.lines.front().text);
        box.events -= box.lines.front().event ? 1 : 0;
        box.bytes -= next->size();
        box.lines.pop_front();
    }
    box.writing = next.has_value();
    return {std::move(next), box.display.Wait()};
}

void Core::Finished(ClientId client)
{
    std::lock_guard lock(mutex);
    if (const auto found = outboxes.find(client); found != outboxes.end()) {
        found->second.writing = false;
    }
}

void WebSocketSession::Accept(Request&& request)
{
    request_ = std::move(request);
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "quillon"); }));
    // Messages are read in pieces and a long one is refused here, so that
    // the connection goes on after it.
    ws_.read_message_max(0);
    ws_.async_accept(request_, [self = shared_from_this()](beast::error_code error) {
        if (!error) {
            self->Opened();
        }
    });
}

void WebSocketSession::Opened()
{
    {
        std::lock_guard lock(core_->mutex);
        client_ = core_->nextClient++;
        core_->outboxes.try_emplace(client_, core_->clock).first->second.session = weak_from_this();
    }
    Read();
}

void WebSocketSession::Read()
{
    ws_.async_read_some(buffer_, 16 * 1024,
                        [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnRead(error); });
}

void WebSocketSession::OnRead(beast::error_code error)
{
    if (error) {
        Close();
        return;
    }
    tooLong_ = tooLong_ || message_.size() + buffer_.size() > WebServer::kMessageLimit;
    if (tooLong_) {
        message_.clear();
    } else {
        message_ += beast::buffers_to_string(buffer_.data());
    }
    buffer_.consume(buffer_.size());
    if (ws_.is_message_done()) {
        if (tooLong_) {
            core_->control->OnLineTooLong(client_);
        } else {
            core_->control->OnLine(client_, std::move(message_));
        }
        message_.clear();
        tooLong_ = false;
    }
    Read();
}

void WebSocketSession::WriteNext()
{
    if (closed_) {
        return;
    }
    auto next = core_->Take(client_);
    if (next.displayInUs && !next.line) {
        WakeIn(*next.displayInUs);
    }
    if (!next.line) {
        return;
    }
    writing_ = std::move(*next.line);
    ws_.text(true);
    ws_.async_write(asio::buffer(writing_), [self = shared_from_this()](beast::error_code error, std::size_t) {
        self->core_->Finished(self->client_);
        if (error) {
            self->Close();
            return;
        }
        self->WriteNext();
    });
}

// A display held back till its frame is sent then, even when nothing else
// comes for the client meanwhile.
void WebSocketSession::WakeIn(std::uint64_t us)
{
    if (std::exchange(timing_, true)) {
        return;
    }
    timer_.expires_after(std::chrono::microseconds(us));
    timer_.async_wait([self = shared_from_this()](beast::error_code error) {
        self->timing_ = false;
        if (!error) {
            self->WriteNext();
        }
    });
}

void WebSocketSession::Close()
{
    if (closed_) {
        return;
    }
    closed_ = true;
    {
        std::lock_guard lock(core_->mutex);
        core_->outboxes.erase(client_);
    }
    core_->control->OnClosed(client_);
}

// Where a request goes, decided from the request alone.
struct Decision {
    enum class Kind { Refuse, WebSocket, Text, Screenshot, Asset };
    static Decision Refusal(http::status status, std::string error) { return {Kind::Refuse, status, std::move(error)}; }
    Kind kind = Kind::Refuse;
    http::status status = http::status::ok;
    std::string error;
    int scale = 1;
    const WebAsset* asset = nullptr;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, std::shared_ptr<Core> core)
        : stream_(std::move(socket)), core_(std::move(core)), ticket_(std::make_unique<Ticket>(core_))
    {
    }
    void Read();
    void Respond(const Answer& answer);

private:
    void OnRead(beast::error_code error);
    void Route(Request request);
    void Ask(std::function<Answer(ControlService&, PanelHost&)> work);
    void Refuse(http::status status, const std::string& error)
    {
        Respond({status, "application/json", WebErrorBody(error)});
    }

    beast::tcp_stream stream_;
    std::shared_ptr<Core> core_;
    std::unique_ptr<Ticket> ticket_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    bool keepAlive_ = false;
};

void HttpSession::Read()
{
    parser_.emplace();
    parser_->body_limit(WebServer::kMessageLimit);
    parser_->header_limit(kHeaderLimit);
    stream_.expires_after(kRequestTime);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnRead(error); });
}

// The answer to a request that could not be read; nothing when the
// connection has simply gone.
std::optional<Decision> ReadFailure(beast::error_code error)
{
    if (error == http::error::body_limit || error == http::error::header_limit ||
        error == http::error::buffer_overflow) {
        return Decision::Refusal(http::status::payload_too_large,
                                 "a request is at most " + std::to_string(WebServer::kMessageLimit) + " bytes");
    }
    if (error.category() == http::make_error_code(http::error::bad_target).category() &&
        error != http::error::end_of_stream && error != http::error::partial_message) {
        return Decision::Refusal(http::status::bad_request, "not an HTTP request: " + error.message());
    }
    return std::nullopt;
}

void HttpSession::OnRead(beast::error_code error)
{
    keepAlive_ = false;
    if (!error) {
        Route(parser_->release());
    } else if (const auto failure = ReadFailure(error)) {
        Refuse(failure->status, failure->error);
    } else {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    }
}

std::optional<int> ScaleOf(std::string_view target)
{
    const auto given = QueryValue(target, "scale");
    if (!given) {
        return 1;
    }
    int scale = 0;
    for (const char c : *given) {
        scale = c >= '0' && c <= '9' && scale <= kLargestScale ? scale * 10 + (c - '0') : kLargestScale + 1;
    }
    return scale >= 1 && scale <= kLargestScale ? std::optional<int>(scale) : std::nullopt;
}

Decision Decide(const Request& request, const WebAccess& access, bool counted)
{
    const std::string_view target(request.target().data(), request.target().size());
    const auto field = [&](http::field name) {
        const auto value = request[name];
        return std::string_view(value.data(), value.size());
    };
    if (!counted) {
        return Decision::Refusal(http::status::service_unavailable, "too many connections: this server serves " +
                                                                        std::to_string(WebServer::kConnectionLimit) +
                                                                        " at once; close a page and try again");
    }
    const bool upgrade = websocket::is_upgrade(request);
    if (const auto refusal = access.Check({target, field(http::field::host), field(http::field::origin),
                                           field(http::field::authorization), upgrade})) {
        return Decision::Refusal(static_cast<http::status>(refusal->status), refusal->error);
    }
    if (request.method() != http::verb::get) {
        return Decision::Refusal(http::status::method_not_allowed, "this server answers GET only");
    }
    const std::string_view path = TargetPath(target);
    if (path == "/ws" && upgrade) {
        return {Decision::Kind::WebSocket, http::status::switching_protocols, {}, 1, nullptr};
    }
    if (path == "/text") {
        return {Decision::Kind::Text, http::status::ok, {}, 1, nullptr};
    }
    if (path == "/screenshot.png") {
        const auto scale = ScaleOf(target);
        return scale ? Decision{Decision::Kind::Screenshot, http::status::ok, {}, *scale, nullptr}
                     : Decision::Refusal(http::status::bad_request, "scale must be a whole number from 1 to 16");
    }
    if (const WebAsset* asset = FindWebAsset(path)) {
        return {Decision::Kind::Asset, http::status::ok, {}, 1, asset};
    }
    return Decision::Refusal(http::status::not_found, "nothing at " + std::string(path) + "; the page is at /");
}

void HttpSession::Route(Request request)
{
    keepAlive_ = request.keep_alive() && ticket_->counted();
    const Decision decision = Decide(request, core_->access, ticket_->counted());
    switch (decision.kind) {
    case Decision::Kind::Refuse:
        return Refuse(decision.status, decision.error);
    case Decision::Kind::WebSocket:
        stream_.expires_never();
        std::make_shared<WebSocketSession>(stream_.release_socket(), core_, std::move(ticket_))
            ->Accept(std::move(request));
        return;
    case Decision::Kind::Text:
        return Ask([](ControlService& control, PanelHost&) {
            Json body;
            body["rows"] = control.ScreenRows();
            return Answer{http::status::ok, "application/json", DumpJson(body)};
        });
    case Decision::Kind::Screenshot:
        return Ask([scale = decision.scale](ControlService&, PanelHost& host) {
            const IndexedImage image = Screenshot(Bitmap(host.engine().display()), scale);
            return Answer{http::status::ok, "image/png", EncodePng(image)};
        });
    case Decision::Kind::Asset:
        break;
    }
    std::string body(decision.asset->data);
    if (decision.asset->path == "/" && core_->readOnly) {
        // The page leaves out what the server would refuse.
        body.replace(body.find(kFullPage), kFullPage.size(), kReadOnlyPage);
    }
    Respond({http::status::ok, std::string(decision.asset->type), std::move(body)});
}

// Work that reads the panel runs on the host's thread; the session waits
// parked until its answer comes back.
void HttpSession::Ask(std::function<Answer(ControlService&, PanelHost&)> work)
{
    {
        std::lock_guard lock(core_->mutex);
        core_->parked[this] = shared_from_this();
    }
    core_->host->Post([core = core_, key = this, work = std::move(work)] {
        if (core->hostControl == nullptr) {
            return;
        }
        core->Dispatch([core, key, answer = work(*core->hostControl, *core->host)] {
            std::shared_ptr<HttpSession> session;
            {
                std::lock_guard lock(core->mutex);
                session = std::move(core->parked[key]);
                core->parked.erase(key);
            }
            if (session) {
                session->Respond(answer);
            }
        });
    });
}

void HttpSession::Respond(const Answer& answer)
{
    auto response = std::make_shared<http::response<http::string_body>>(answer.status, 11);
    response->set(http::field::server, "quillon");
    response->set(http::field::content_type, answer.type);
    response->set(http::field::cache_control, "no-store");
    response->set("X-Content-Type-Options", "nosniff");
    // The page presses keys: no other site may frame it or feed it scripts.
    response->set("X-Frame-Options", "DENY");
    response->set("Content-Security-Policy", "default-src 'self'; img-src 'self' data: blob:; frame-ancestors 'none'");
    response->keep_alive(keepAlive_);
    response->body() = answer.body;
    response->prepare_payload();
    http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code error, std::size_t) {
        if (!error && self->keepAlive_) {
            self->Read();
            return;
        }
        beast::error_code ignored;
        self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    });
}

class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(asio::io_context& io, std::shared_ptr<Core> core) : acceptor_(io), core_(std::move(core)) {}
    bool Open(const tcp::endpoint& endpoint, std::string& error);
    void Accept();
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

private:
    tcp::acceptor acceptor_;
    std::shared_ptr<Core> core_;
};

bool Listener::Open(const tcp::endpoint& endpoint, std::string& error)
{
    beast::error_code code;
    acceptor_.open(endpoint.protocol(), code);
    if (!code) {
        acceptor_.set_option(asio::socket_base::reuse_address(true), code);
    }
    if (!code) {
        acceptor_.bind(endpoint, code);
    }
    if (!code) {
        acceptor_.listen(asio::socket_base::max_listen_connections, code);
    }
    error = code ? code.message() : std::string();
    return !code;
}

void Listener::Accept()
{
    acceptor_.async_accept([self = shared_from_this()](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted) {
            return;
        }
        if (!error) {
            // A small send buffer, so that a client that stops reading is
            // found out at once and its rows dropped, not piled in the system.
            beast::error_code ignored;
            socket.set_option(asio::socket_base::send_buffer_size(kSendBuffer), ignored);
            std::make_shared<HttpSession>(std::move(socket), self->core_)->Read();
        }
        self->Accept();
    });
}

class BeastWebServer final : public WebServer {
public:
    BeastWebServer(PanelHost& host, const WebServerOptions& options)
        : core_(std::make_shared<Core>(WebAccess(options.token, options.port))),
          control_(
              host, [core = core_](ClientId client, const std::string& line) { core->Send(client, line); },
              ControlRights{.quit = false, .keysAndFaults = !options.readOnly, .displayEvents = true})
    {
        core_->control = &control_;
        core_->hostControl = &control_;
        core_->host = &host;
        core_->readOnly = options.readOnly;
    }
    ~BeastWebServer() override;
    BeastWebServer(const BeastWebServer&) = delete;
    BeastWebServer& operator=(const BeastWebServer&) = delete;

    bool Start(const WebServerOptions& options, std::string& error);
    std::uint16_t port() const override { return port_; }

private:
    asio::io_context io_{1};
    std::shared_ptr<Core> core_;
    ControlService control_;
    std::thread thread_;
    std::uint16_t port_ = 0;
};

bool BeastWebServer::Start(const WebServerOptions& options, std::string& error)
{
    beast::error_code code;
    tcp::resolver resolver(io_);
    const auto found = resolver.resolve(options.host, std::to_string(options.port), tcp::resolver::passive, code);
    if (code || found.empty()) {
        error = "cannot serve on " + options.host + ": " + (code ? code.message() : "no such address");
        return false;
    }
    auto listener = std::make_shared<Listener>(io_, core_);
    if (!listener->Open(found.begin()->endpoint(), error)) {
        error = "cannot serve on " + options.host + ":" + std::to_string(options.port) + ": " + error;
        return false;
    }
    port_ = listener->port();
    // The Host header names the port actually bound.
    core_->access = WebAccess(options.token, port_);
    listener->Accept();
    core_->io = &io_;
    thread_ = std::thread([this] { io_.run(); });
    return true;
}

BeastWebServer::~BeastWebServer()
{
    core_->hostControl = nullptr;
    {
        std::lock_guard lock(core_->mutex);
        core_->io = nullptr;
    }
    io_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    // Sessions end outside the lock: their connections are counted under it.
    std::map<HttpSession*, std::shared_ptr<HttpSession>> parked;
    std::lock_guard lock(core_->mutex);
    parked.swap(core_->parked);
    core_->outboxes.clear();
}

} // namespace

WebJudgement JudgeWebRequest(std::string_view bytes, const std::string& token, std::uint16_t port)
{
    http::request_parser<http::string_body> parser;
    parser.body_limit(WebServer::kMessageLimit);
    parser.header_limit(kHeaderLimit);
    parser.eager(true);
    beast::error_code error;
    while (!bytes.empty() && !error && !parser.is_done()) {
        const std::size_t used = parser.put(asio::buffer(bytes.data(), bytes.size()), error);
        bytes.remove_prefix(error == http::error::need_more ? bytes.size() : used);
        error = error == http::error::need_more ? beast::error_code() : error;
    }
    if (!parser.is_done()) {
        const auto failure = error ? ReadFailure(error) : std::nullopt;
        return failure ? WebJudgement{static_cast<int>(failure->status), WebErrorBody(failure->error)} : WebJudgement{};
    }
    const Decision decision = Decide(parser.get(), WebAccess(token, port), true);
    return {static_cast<int>(decision.status),
            decision.kind == Decision::Kind::Refuse ? WebErrorBody(decision.error) : std::string()};
}

std::unique_ptr<WebServer> StartWebServer(PanelHost& host, const WebServerOptions& options, std::string& error)
{
    auto server = std::make_unique<BeastWebServer>(host, options);
    if (!server->Start(options, error)) {
        return nullptr;
    }
    return server;
}

} // namespace quillon
