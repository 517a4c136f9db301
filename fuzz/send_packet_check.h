#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "link/frame.h"
#include "link/panel_link.h"

// What a press of Send in the Send Packet dialog must put into the receive
// buffer, worked out from the selections alone, and the checks on the frame
// and on the tick that answers it. Shared by the injection-path target and
// the target that drives the dialog itself.

namespace quillon::fuzzing {

constexpr std::size_t kDataLists = 25;
constexpr std::size_t kFunctionCodeEntries = 10;
// The text field takes at most this many characters, so the frame fits the
// receive buffer.
constexpr std::size_t kMaxTextLength = 115;

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
    std::vector<std::uint8_t> data;
};

inline Composed Compose(const Selections& s)
{
    const auto code = static_cast<std::uint8_t>(s.functionIndex + 1);
    // Function code 4 forces the length list to "1".
    const std::size_t length = code == kBlankArea ? 1 : s.lengthIndex + 1;
    if (code == kWriteString && s.writeString) {
        std::vector<std::uint8_t> data{s.data[0], s.data[1]};
        data.insert(data.end(), s.text.begin(), s.text.end());
        return {code, data};
    }
    return {code, std::vector<std::uint8_t>(s.data.begin(), s.data.begin() + length)};
}

// Whether validation lets a frame of this code and data length through.
inline bool LengthAllowed(std::uint8_t code, std::size_t length)
{
    switch (code) {
    case kWriteString:
        return length >= 3 && length <= 23;
    case kWriteArray:
        return length >= 3 && length <= 117;
    case kSetupDisplay:
    case kBlankArea:
    case kReadSwitches:
    case kSetContrast:
        return length == 1;
    case kDrawSliderBar:
        return length >= 5 && length <= 8;
    case kWriteFrameHeader:
        return length >= 1 && length <= 21;
    case kDrawAndRepeat:
        return length >= 4 && length <= 117;
    default:
        return false;
    }
}

struct Engine {
    explicit Engine(std::uint32_t start) : clock(start) { state.linkEnabled = 1; }

    // Lets up to 20 s pass in one tick; what the tick writes is not checked.
    void WaitAndTick(unsigned word)
    {
        clock.now += word % 20001;
        link.LinkTick();
        port.writes.clear();
    }

    LinkState state;
    CheckedView view;
    ScriptedPort port;
    StepClock clock;
    CPanelLink link{state, view, port, clock};
};

// Checks what one press of Send left in the receive buffer against the
// frame the selections make, then runs the tick that follows and checks the
// reply. checksum is the one the injection reported.
inline void CheckSendAndTick(Engine& e, const Composed& frame, std::uint8_t checksum)
{
    QUILLON_FUZZ_CHECK(frame.data.size() <= kMaxFrameDataLength);
    const auto length = static_cast<std::uint8_t>(frame.data.size());

    std::vector<std::uint8_t> expected{static_cast<std::uint8_t>(frame.code | kLastFrameBit), length};
    expected.insert(expected.end(), frame.data.begin(), frame.data.end());
    expected.push_back(FrameChecksum(expected.data(), expected.size()));
    QUILLON_FUZZ_CHECK(checksum == expected.back());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QUILLON_FUZZ_CHECK(e.state.rxBuffer[i] == expected[i]);
    }
    QUILLON_FUZZ_CHECK(e.state.work.rxIndex.load() == expected.size());
    QUILLON_FUZZ_CHECK(e.state.work.rxFrameStart.load() == expected.size());
    QUILLON_FUZZ_CHECK(e.state.work.framesReceived.load() == 1);

    const std::size_t runsBefore = e.view.runs;
    const std::uint8_t keyNibble = static_cast<std::uint8_t>(e.view.keyBits << 4);
    const std::size_t writesBefore = e.port.writes.size();
    e.link.LinkTick();
    std::vector<std::vector<std::uint8_t>> written(e.port.writes.begin() + writesBefore, e.port.writes.end());
    e.port.writes.resize(writesBefore);
    if (!written.empty() && IsSynchRequest(written.front())) {
        written.erase(written.begin());
    }

    if (e.state.linkEnabled == 0) {
        QUILLON_FUZZ_CHECK(written.empty());
        return;
    }
    QUILLON_FUZZ_CHECK(written.size() == 1);
    const Reply reply = ParseReply(written.front(), e.state.replyMode == kSingleByteReplyMode);
    CheckStatusNibble(reply.status);
    QUILLON_FUZZ_CHECK((reply.status & kStatusChecksumError) == 0);
    QUILLON_FUZZ_CHECK((reply.status & 0xF0) == keyNibble);
    if (!LengthAllowed(frame.code, length)) {
        QUILLON_FUZZ_CHECK((reply.status & kStatusFrameError) != 0);
        QUILLON_FUZZ_CHECK(e.view.runs == runsBefore);
    } else if (frame.code == kReadSwitches || frame.code == kSetContrast) {
        QUILLON_FUZZ_CHECK((reply.status & kStatusErrorMask) == 0);
        QUILLON_FUZZ_CHECK(e.view.runs == runsBefore);
    }
    QUILLON_FUZZ_CHECK(e.state.work.rxIndex.load() == 0);
    QUILLON_FUZZ_CHECK(e.state.work.framesReceived.load() == 0);
    QUILLON_FUZZ_CHECK(e.state.work.frameCursor == 0);
    QUILLON_FUZZ_CHECK(e.state.status == 0);
}

} // namespace quillon::fuzzing
