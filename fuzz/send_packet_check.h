#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/harness.h"
#include "link/panel_engine.h"

// What a press of Send in the Send Packet dialog must hand to the engine,
// worked out from the selections alone, and the checks on the tick that
// answers it. Shared by the injection-path target and the target that drives
// the dialog itself.

namespace quillon::fuzzing {

constexpr std::size_t kDataLists = 25;
constexpr std::size_t kFunctionCodeEntries = 10;
// The text field takes at most this many characters, so the frame fits the
// receive buffer.
constexpr std::size_t kMaxTextLength = 115;
// Sends that can wait for a paused link: one in the receive buffer and eight
// handed over behind it; the engine refuses any beyond those.
constexpr std::size_t kMostWaitingSends = 9;

struct Selections {
    std::size_t functionIndex = 0; // entry k stands for function code k + 1
    std::size_t lengthIndex = 0;   // entry i stands for length i + 1
    std::array<std::uint8_t, kDataLists> data{};
    bool writeString = false;
    std::string text;
};

// The frame's code and data bytes as Send composes them; the injection path
// adds the last-frame bit, the length byte and the checksum.
struct Composed {
    std::uint8_t code;
    Bytes data;
};

inline Composed Compose(const Selections& s)
{
    const auto code = static_cast<std::uint8_t>(s.functionIndex + 1);
    // Function code 4 forces the length list to "1".
    const std::size_t length = code == kBlankArea ? 1 : s.lengthIndex + 1;
    if (code == kWriteString && s.writeString) {
        Bytes data{s.data[0], s.data[1]};
        data.insert(data.end(), s.text.begin(), s.text.end());
        return {code, data};
    }
    return {code, Bytes(s.data.begin(), s.data.begin() + static_cast<std::ptrdiff_t>(length))};
}

struct Engine {
    explicit Engine(std::uint32_t start) : clock(start)
    {
        panel.SetLinkEnabled(true);
        panel.SetObserver(&log);
    }

    // Lets up to 20 s pass in one tick; what the tick writes is not checked.
    void WaitAndTick(unsigned word)
    {
        clock.now += word % 20001;
        panel.Tick();
        port.writes.clear();
        log.events.clear();
        if (panel.linkEnabled()) {
            waiting.clear();
        }
    }

    ScriptedPort port;
    StepClock clock;
    EventLog log;
    PanelEngine panel{port, clock};
    // The frames sent and not yet answered, as the device would have sent them.
    std::vector<Bytes> waiting;
};

// Checks the checksum one press of Send reported, then runs the tick that
// follows: with the link running, every frame sent since the last answer is
// carried out exactly as composed and answered by one reply, never with the
// checksum bit; a frame that breaks its length rule carries the frame error
// bit and draws nothing. With the link paused nothing is written.
inline void CheckSendAndTick(Engine& e, const Composed& frame, std::optional<std::uint8_t> checksum)
{
    QUILLON_FUZZ_CHECK(frame.data.size() <= kMaxFrameDataLength);
    const Bytes expected = EncodeFrame(frame.code, frame.data);
    // A frame is refused, and says so, only when no room is left for it.
    QUILLON_FUZZ_CHECK(checksum.has_value() == (e.waiting.size() < kMostWaitingSends));
    if (checksum) {
        QUILLON_FUZZ_CHECK(*checksum == expected.back());
        e.waiting.push_back(expected);
    }

    const std::uint8_t keyNibble = static_cast<std::uint8_t>(e.panel.keys().bits() << kStatusKeyShift);
    const bool released = e.panel.keys().released();
    e.panel.Tick();
    std::vector<Bytes> written = std::move(e.port.writes);
    e.port.writes.clear();
    if (!written.empty() && IsSynchRequest(written.front())) {
        written.erase(written.begin());
    }
    std::vector<const LinkEvent*> executed;
    for (const LinkEvent& event : e.log.events) {
        if (event.kind == LinkEventKind::FrameExecuted) {
            executed.push_back(&event);
        }
    }
    if (!e.panel.linkEnabled()) {
        QUILLON_FUZZ_CHECK(written.empty());
        e.log.events.clear();
        return;
    }

    QUILLON_FUZZ_CHECK(written.size() == e.waiting.size());
    QUILLON_FUZZ_CHECK(executed.size() == e.waiting.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const Bytes& sent = e.waiting[i];
        const LinkEvent& event = *executed[i];
        QUILLON_FUZZ_CHECK(std::equal(sent.begin(), sent.end(), event.bytes().begin(), event.bytes().end()));
        QUILLON_FUZZ_CHECK(event.injected);

        const Reply reply = ParseReply(written[i], e.panel.replyMode() == kSingleByteReplyMode);
        CheckStatusNibble(reply.status);
        QUILLON_FUZZ_CHECK((reply.status & kStatusChecksumError) == 0);
        // The key goes out with every reply until one has carried it after
        // it was let go.
        QUILLON_FUZZ_CHECK((reply.status & 0xF0) == (i == 0 || !released ? keyNibble : 0));
        const std::uint8_t code = sent[0] & kFunctionCodeMask;
        if (!LengthAllowed(code, sent[1])) {
            QUILLON_FUZZ_CHECK((reply.status & kStatusFrameError) != 0);
            QUILLON_FUZZ_CHECK(!event.executed && event.changed.empty());
        } else if (code == kReadSwitches || code == kSetContrast) {
            QUILLON_FUZZ_CHECK((reply.status & kStatusErrorMask) == 0);
            QUILLON_FUZZ_CHECK(event.executed && event.changed.empty());
        }
    }
    e.waiting.clear();
    e.log.events.clear();
}

} // namespace quillon::fuzzing
