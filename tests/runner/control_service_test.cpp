#include "host/control_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "host/png.h"
#include "tests/support/fakes.h"

namespace quillon::runner {
namespace {

class ControlServiceTest : public ::testing::Test {
protected:
    // The reply to one line, as the client would read it.
    Json Ask(const std::string& line)
    {
        replies_.clear();
        service_.Handle(1, line);
        EXPECT_EQ(replies_.size(), 1u) << line;
        Json reply;
        std::string error;
        if (!replies_.empty()) {
            auto json = ParseJson(replies_.back(), error);
            EXPECT_TRUE(json) << error;
            if (json) {
                reply = std::move(*json);
            }
        }
        return reply;
    }
    static std::string Error(const Json& reply) { return reply.value("error", std::string()); }

    testing::QueuePort port_;
    testing::ManualClock clock_;
    // Straight through until a test gives the host these faults.
    FaultPort faults_{port_, clock_};
    PanelHost host_{faults_, clock_, std::chrono::steady_clock::now()};
    std::vector<std::string> replies_;
    ControlService service_{host_, [this](LineServer::ClientId, const std::string& line) { replies_.push_back(line); }};
};

TEST_F(ControlServiceTest, BadLinesGetOneErrorReplyEach)
{
    const struct {
        const char* line;
        const char* error;
    } cases[] = {
        {"this is not JSON", "not JSON: not a JSON value at byte 0"},
        {"[1, 2]", "a request is a JSON object"},
        {R"({"id": 3})", "a request needs \"cmd\""},
        {R"({"cmd": "fly"})", "unknown cmd \"fly\""},
        {R"({"cmd": "press", "key": "sideways"})", "press needs \"key\""},
        {R"({"cmd": "screenshot", "scale": 40})", "scale must be a whole number from 1 to 16"},
        {R"({"cmd": "wait-text", "text": ""})", "wait-text needs \"text\""},
        {R"({"cmd": "wait-text", "text": "A", "timeout_ms": "soon"})", "timeout_ms must be a number"},
        // What was written is named; a field no command takes is refused.
        {R"({"cmd": "click", "key": "enter"})", "click needs \"key\": up, down, left or right, not \"enter\""},
        {R"({"cmd": "press", "key": "dwn"})", "not \"dwn\" (did you mean down?)"},
        {R"({"cmd": "wait-text", "text": "A", "timeout": "300ms"})",
         "wait-text has no field \"timeout\"; its fields are id, cmd, text, timeout_ms, inverse"},
        {R"({"id": 4, "cmd": "status", "verbose": true})", "status has no field \"verbose\"; its fields are id, cmd"},
        {R"({"cmd": "painted", "t": 1})", "painted is taken only where display events are sent"},
    };
    for (const auto& c : cases) {
        const Json reply = Ask(c.line);
        ASSERT_TRUE(reply.contains("ok")) << c.line;
        EXPECT_FALSE(reply["ok"].get<bool>()) << c.line;
        EXPECT_NE(Error(reply).find(c.error), std::string::npos) << c.line << " gave " << Error(reply);
    }
    // A line too long is reported through the host's loop.
    replies_.clear();
    service_.OnLineTooLong(1);
    host_.Post([] {});
    host_.Step();
    ASSERT_EQ(replies_.size(), 1u);
    EXPECT_NE(replies_[0].find("longer than 65536 bytes"), std::string::npos);
}

TEST_F(ControlServiceTest, KeysTextDisplayAndScreenshotThroughTheProtocol)
{
    EXPECT_EQ(DumpJson(Ask(R"({"id": "a", "cmd": "press", "key": "down"})")), R"({"id":"a","ok":true})");
    EXPECT_EQ(host_.engine().keys().bits(), kKeyDown);
    Ask(R"({"cmd": "release"})");
    EXPECT_TRUE(host_.engine().keys().released());

    host_.engine().controller().PutString("MAIN MENU", 0x00, 37, true);
    EXPECT_EQ(DumpJson(Ask(R"({"id": 2, "cmd": "text"})")),
              R"({"id":2,"ok":true,"rows":[{"page":0,"column":37,"size":0,"inverse":false,"text":"MAIN MENU"}]})");

    const Json display = Ask(R"({"cmd": "display"})");
    const Json& pages = display["pages"];
    ASSERT_EQ(pages.size(), 8u);
    EXPECT_EQ(pages[0].get<std::string>().substr(74, 10), "7f02"
                                                          "0c027f");

    const Json shot = Ask(R"({"cmd": "screenshot", "scale": 2})");
    EXPECT_EQ(shot["width"], 256);
    EXPECT_EQ(shot["png"].get<std::string>().substr(0, 8), "iVBORw0K");
}

TEST_F(ControlServiceTest, FaultsAreGivenClearedAndToldToSubscribers)
{
    const std::string drop = R"({"id": 1, "cmd": "fault", "kind": "drop-reply", "every": 1})";
    EXPECT_EQ(Error(Ask(drop)), "this link takes no faults");
    host_.SetFaults(&faults_);
    EXPECT_EQ(DumpJson(Ask(drop)), R"({"id":1,"ok":true,"rule":"drop-reply:every=1"})");
    EXPECT_EQ(Error(Ask(R"({"cmd": "fault", "kind": "drop-reply", "every": "3,at=2"})")),
              "drop-reply: every \"3,at=2\" is not a value");
    EXPECT_NE(Error(Ask(R"({"cmd": "fault", "every": 2})")).find("fault needs \"kind\", one of drop-reply"),
              std::string::npos);
    EXPECT_EQ(Ask(R"({"cmd": "status"})")["faults"], Json::array({"drop-reply:every=1"}));
    // Times on the socket are numbers of milliseconds, or texts with a unit.
    EXPECT_EQ(Ask(R"({"cmd": "fault", "kind": "unplug", "for": 2000, "after": "1s"})")["rule"],
              "unplug:for=2000ms,after=1000ms");
    Ask(R"({"cmd": "clear-faults"})");
    Ask(drop);

    Ask(R"({"cmd": "subscribe"})");
    // A second client takes the trace's rows in place of the events.
    service_.Handle(2, R"({"cmd": "subscribe", "rows": true})");
    replies_.clear();
    host_.engine().SetLinkEnabled(true);
    port_.Feed(testing::Frame(kReadSwitches, {0x00}));
    while (host_.engine().receiver().ReceivePass() == ReceiveResult::ByteHandled) {
    }
    host_.engine().Tick();
    EXPECT_TRUE(port_.Writes().empty());
    std::string error;
    std::map<std::string, Json> lines;
    for (const std::string& line : replies_) {
        const Json json = ParseJson(line, error).value_or(Json());
        lines[json["event"] == "row" ? "row " + json["row"]["kind"].get<std::string>()
                                     : json["event"].get<std::string>()] = json;
    }
    EXPECT_EQ(lines.count("frame"), 1u);
    EXPECT_EQ(lines["row frame"]["row"]["name"], "READ SWITCHES");
    EXPECT_EQ(lines["row fault"]["row"]["meaning"], "reply dropped (fault drop-reply every 1)");
    EXPECT_EQ(std::count_if(replies_.begin(), replies_.end(),
                            [](const std::string& line) { return line.starts_with(R"({"event":"fault")"); }),
              1);
    const Json told = lines["fault"];
    EXPECT_EQ(told["event"], "fault");
    EXPECT_EQ(told["fault"], "drop-reply");
    EXPECT_EQ(told["bytes"], "05 01 00 07");
    EXPECT_EQ(told["sent"], "");
    EXPECT_EQ(told["meaning"], "reply dropped (fault drop-reply every 1)");

    EXPECT_TRUE(Ask(R"({"cmd": "clear-faults"})")["ok"].get<bool>());
    EXPECT_EQ(Ask(R"({"cmd": "status"})")["faults"], Json::array());
}

// A click is over once a reply carried its key to the device and a later one
// reached it without; a carrying reply a fault kept from the device has to
// be made up for, and a held one counts when it leaves.
TEST(ClickWatchTest, FollowsTheRepliesToTheDeviceAndTellsAKeyAFaultLost)
{
    const auto reply = [](std::uint8_t status) {
        LinkEvent event;
        event.kind = LinkEventKind::ReplySent;
        event.status = status;
        event.SetBytes(ShortStatusFrame(status));
        return event;
    };
    const auto fault = [](FaultEffect effect, const LinkEvent& meant = {}) {
        LinkEvent event;
        event.kind = LinkEventKind::FaultInjected;
        event.effect = effect;
        event.SetBytes(meant.bytes());
        return event;
    };
    const LinkEvent up = reply(kKeyUp << kStatusKeyShift);
    const LinkEvent none = reply(0);
    const LinkEvent other = reply(0x02);
    const LinkEvent byteDropped = fault(FaultEffect::ByteDropped);
    const struct {
        const char* what;
        std::vector<LinkEvent> events;
        bool done;
        int losses;
    } cases[] = {
        {"carried, then let go", {none, up, none}, true, 0},
        {"still held", {up, up}, false, 0},
        {"carrying reply dropped", {up, fault(FaultEffect::ReplyDropped), none}, false, 1},
        {"made up for", {up, fault(FaultEffect::ReplyCut), up, none}, true, 1},
        {"lost while unplugged", {up, fault(FaultEffect::ReplyLost)}, false, 1},
        {"a byte fault between", {up, byteDropped, none}, true, 0},
        // The release must reach the device too, or it sees the next key
        // straight after this one.
        {"the release dropped", {up, none, fault(FaultEffect::ReplyDropped)}, false, 0},
        {"the release corrupted, then another", {up, none, fault(FaultEffect::ReplyCorrupted), other}, true, 0},
        {"the release cut", {up, other, fault(FaultEffect::ReplyCut), byteDropped}, false, 0},
        {"carrying reply held", {up, fault(FaultEffect::ReplyDelayed), none}, false, 0},
        {"held, then left",
         {up, fault(FaultEffect::ReplyDelayed), none, fault(FaultEffect::HeldReplySent, up), none},
         true,
         0},
        {"the release held, then left",
         {up, none, fault(FaultEffect::ReplyDelayed), fault(FaultEffect::HeldReplySent, none)},
         true,
         0},
        {"a reply held before the click left",
         {up, fault(FaultEffect::ReplyDelayed), fault(FaultEffect::HeldReplySent, other), none},
         false,
         0},
    };
    for (const auto& c : cases) {
        ClickWatch watch(kKeyUp);
        int losses = 0;
        for (const LinkEvent& event : c.events) {
            watch.Take(event);
            losses += watch.Lost() ? 1 : 0;
        }
        EXPECT_EQ(watch.done(), c.done) << c.what;
        EXPECT_EQ(losses, c.losses) << c.what;
    }
}

TEST_F(ControlServiceTest, WaitForTextAnswersAtOnceOrAtItsTimeOut)
{
    host_.engine().controller().PutString("READY", 0x03, 0, true);
    const Json found = Ask(R"({"id": 1, "cmd": "wait-text", "text": "READY"})");
    EXPECT_EQ(found["ok"], true);
    const Json missing = Ask(R"({"id": 2, "cmd": "wait-text", "text": "GONE", "timeout_ms": 0})");
    EXPECT_EQ(Error(missing), "timed out after 0 ms waiting for \"GONE\" on the screen; it reads: READY");
}

// A web server's clients: quit refused, and read-only refuses keys and faults
// while everything else is answered; subscribers get the display when they
// subscribe and then once a turn when it has changed.
TEST(ControlRightsTest, RefusalsAndTheDisplayEvent)
{
    testing::QueuePort port;
    testing::ManualClock clock;
    FaultPort faults{port, clock};
    PanelHost host{faults, clock, std::chrono::steady_clock::now()};
    host.SetFaults(&faults);
    std::vector<std::string> lines;
    ControlService service(
        host, [&](LineServer::ClientId, const std::string& line) { lines.push_back(line); },
        ControlRights{.quit = false, .keysAndFaults = false, .displayEvents = true});
    const auto ask = [&](const std::string& line) {
        lines.clear();
        service.Handle(1, line);
        std::string error;
        return lines.empty() ? Json() : ParseJson(lines.front(), error).value_or(Json());
    };
    for (const char* refused :
         {R"({"cmd": "press", "key": "up"})", R"({"cmd": "click", "key": "up"})", R"({"cmd": "release"})",
          R"({"cmd": "fault", "kind": "drop-reply"})", R"({"cmd": "clear-faults"})", R"({"cmd": "quit"})"}) {
        EXPECT_EQ(ask(refused)["ok"], false) << refused;
    }
    EXPECT_EQ(ask(R"({"cmd": "quit"})")["error"], "quit is not taken here; stop the program where it runs");
    EXPECT_EQ(ask(R"({"cmd": "press", "key": "up"})")["error"],
              "press refused: this server is read-only, it takes no keys and no faults");
    EXPECT_EQ(host.engine().keys().bits(), 0);
    EXPECT_FALSE(service.quitRequested());
    EXPECT_EQ(ask(R"({"cmd": "status"})")["ok"], true);
    // A page's echo of a display event's time is answered with how long ago
    // that was on the host's clock.
    EXPECT_GE(ask(R"({"cmd": "painted", "t": 0})")["latency_ms"], 0);
    EXPECT_EQ(ask(R"({"cmd": "painted", "t": "now"})")["error"],
              "painted needs \"t\", the time of the display event painted");

    ask(R"({"cmd": "subscribe"})");
    ASSERT_EQ(lines.size(), 2u);
    std::string error;
    const Json first = ParseJson(lines[1], error).value_or(Json());
    EXPECT_EQ(first["event"], "display");
    EXPECT_EQ(first["pages"].size(), 8u);
    lines.clear();
    host.Step();
    EXPECT_TRUE(lines.empty());
    host.engine().controller().PutString("AB", 0x00, 0, true);
    host.engine().controller().PutString("CD", 0x01, 0, true);
    host.Step();
    ASSERT_EQ(lines.size(), 1u);
    const Json changed = ParseJson(lines[0], error).value_or(Json());
    EXPECT_EQ(changed["changes"], host.engine().display().changeCount());
    EXPECT_NE(changed["pages"][1].get<std::string>().substr(0, 10), "0000000000");
}

// A key pressed by a client that goes is let go; another client's going
// leaves it held.
TEST_F(ControlServiceTest, AKeyIsLetGoWhenItsClientGoes)
{
    Ask(R"({"cmd": "press", "key": "left"})");
    service_.Forget(2);
    EXPECT_EQ(host_.engine().keys().bits(), kKeyLeft);
    service_.Forget(1);
    EXPECT_TRUE(host_.engine().keys().released());
}

} // namespace
} // namespace quillon::runner
