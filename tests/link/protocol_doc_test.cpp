#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "link/panel_engine.h"
#include "protocol/protocol.h"
#include "tests/support/fakes.h"

// The exchanges of docs/protocol.md, played to a real engine: every block in
// an `exchange` fence is one conversation with a panel just started.
//
//   device: 81 03 00 00 41 C6   the device sends these bytes, 1 ms apart
//   panel:  05 01 00 07         everything the panel wrote since the last
//                               panel line ("nothing" for no byte)
//   wait:   130 ms              time passes without a byte
//   press:  up                  the key is pressed (and held)
//   release                     the key is let go
//   mode:   synch required      Synch. Required is on
//
// The engine ticks every 10 ms of that time and answers a complete block at
// once, as the desktop program and the runner do. Text after '#' is a
// comment.
namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ManualClock;
using testing::QueuePort;

struct Step {
    int line = 0;
    std::string keyword;
    std::string argument;
};

struct Exchange {
    int line = 0;
    std::vector<Step> steps;
};

std::string Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::vector<Exchange> ReadExchanges(const std::string& path)
{
    std::ifstream file(path);
    EXPECT_TRUE(file) << "cannot read " << path;
    std::vector<Exchange> exchanges;
    bool inExchange = false;
    bool inOtherFence = false;
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        const std::string line = Trimmed(text);
        if (line.starts_with("```")) {
            if (inExchange || inOtherFence) {
                inExchange = inOtherFence = false;
            } else if (line == "```exchange") {
                inExchange = true;
                exchanges.push_back({number, {}});
            } else {
                inOtherFence = true;
            }
            continue;
        }
        if (!inExchange) {
            continue;
        }
        const std::string content = Trimmed(line.substr(0, line.find('#')));
        if (content.empty()) {
            continue;
        }
        const auto colon = content.find(':');
        Step step{number, content.substr(0, colon),
                  colon == std::string::npos ? "" : Trimmed(content.substr(colon + 1))};
        exchanges.back().steps.push_back(step);
    }
    return exchanges;
}

std::string Hex(const Bytes& bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes) {
        static constexpr std::string_view kDigits = "0123456789ABCDEF";
        text += text.empty() ? "" : " ";
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::optional<Bytes> ParseHex(const std::string& text)
{
    std::istringstream in(text);
    Bytes bytes;
    std::string word;
    while (in >> word) {
        if (word.size() != 2 || word.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
    }
    return bytes;
}

std::optional<std::uint8_t> KeyBits(const std::string& name)
{
    if (name == "right") {
        return kKeyRight;
    }
    if (name == "left") {
        return kKeyLeft;
    }
    if (name == "up") {
        return kKeyUp;
    }
    if (name == "down") {
        return kKeyDown;
    }
    return std::nullopt;
}

// A panel just started, on a line the test plays the device's side of.
class PlayedPanel {
public:
    PlayedPanel()
    {
        engine_.SetLinkEnabled(true);
        engine_.SetWake([this] { woken_ = true; });
    }

    void Send(const Bytes& bytes)
    {
        for (const std::uint8_t byte : bytes) {
            port_.Feed({byte});
            while (engine_.receiver().ReceivePass() == ReceiveResult::ByteHandled) {
            }
            Pass(1);
        }
    }

    // Lets time pass, ticking every 10 ms and answering a block the moment
    // it is complete.
    void Pass(std::uint32_t ms)
    {
        for (std::uint32_t i = 0; i < ms; ++i) {
            if (woken_) {
                woken_ = false;
                engine_.AnswerCompleteBlock();
            }
            clock_.Advance(1);
            if (clock_.NowMs() % PanelEngine::kTickPeriodMs == 0) {
                engine_.Tick();
            }
        }
        if (woken_) {
            woken_ = false;
            engine_.AnswerCompleteBlock();
        }
    }

    PanelEngine& engine() { return engine_; }
    Bytes TakeWritten() { return port_.TakeWritten(); }

private:
    QueuePort port_;
    ManualClock clock_;
    PanelEngine engine_{port_, clock_};
    bool woken_ = false;
};

void Play(const Exchange& exchange)
{
    const char* path = QUILLON_PROTOCOL_DOC;
    PlayedPanel panel;
    bool checked = false;
    for (const Step& step : exchange.steps) {
        if (step.keyword == "device") {
            const auto bytes = ParseHex(step.argument);
            if (!bytes || bytes->empty()) {
                ADD_FAILURE_AT(path, step.line) << "not hex bytes: " << step.argument;
                return;
            }
            panel.Send(*bytes);
        } else if (step.keyword == "panel") {
            const auto expected = step.argument == "nothing" ? std::optional<Bytes>(Bytes{}) : ParseHex(step.argument);
            if (!expected) {
                ADD_FAILURE_AT(path, step.line) << "not hex bytes: " << step.argument;
                return;
            }
            const Bytes written = panel.TakeWritten();
            if (written != *expected) {
                ADD_FAILURE_AT(path, step.line)
                    << "the panel wrote \"" << Hex(written) << "\", the document says \"" << Hex(*expected) << "\"";
            }
            checked = true;
        } else if (step.keyword == "wait" && step.argument.ends_with(" ms")) {
            panel.Pass(static_cast<std::uint32_t>(std::stoul(step.argument)));
        } else if (step.keyword == "press" && KeyBits(step.argument)) {
            panel.engine().keys().Press(*KeyBits(step.argument));
        } else if (step.keyword == "release" && step.argument.empty()) {
            panel.engine().keys().Release();
        } else if (step.keyword == "mode" && step.argument == "synch required") {
            panel.engine().SetSynchRequired(true);
        } else {
            ADD_FAILURE_AT(path, step.line) << "not a step of an exchange: " << step.keyword;
            return;
        }
    }
    if (!checked) {
        ADD_FAILURE_AT(path, exchange.line) << "an exchange without a panel line checks nothing";
    }
    const Bytes unshown = panel.TakeWritten();
    if (!unshown.empty()) {
        ADD_FAILURE_AT(path, exchange.steps.back().line)
            << "the panel then wrote \"" << Hex(unshown) << "\", which no panel line shows";
    }
}

TEST(ProtocolDoc, EveryExchangeGetsTheDocumentedReplies)
{
    const std::vector<Exchange> exchanges = ReadExchanges(QUILLON_PROTOCOL_DOC);
    ASSERT_GE(exchanges.size(), 6u) << "the document's exchanges were not found";
    for (const Exchange& exchange : exchanges) {
        SCOPED_TRACE("exchange at line " + std::to_string(exchange.line));
        Play(exchange);
    }
}

} // namespace
} // namespace quillon
