#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <span>
#include <vector>

#include "link/engine_interfaces.h"
#include "link/key_latch.h"
#include "link/link_events.h"
#include "protocol/protocol.h"

// Self-contained stand-ins for the port, the clock and an observer, for the
// fuzz targets: single-threaded, no test framework, and every broken
// invariant aborts with the condition that failed, so libFuzzer keeps the
// input.

namespace quillon::fuzzing {

[[noreturn]] inline void Fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

#define QUILLON_FUZZ_CHECK(condition)                                                                                  \
    ((condition) ? static_cast<void>(0) : ::quillon::fuzzing::Fail(#condition, __FILE__, __LINE__))

using Bytes = std::vector<std::uint8_t>;

// What a press can report: beside the keys, or one of the four keys.
inline constexpr std::uint8_t kKeyValues[] = {0, kKeyRight, kKeyLeft, kKeyUp, kKeyDown};

// A mouse chosen by one input byte: a press on a key (or beside them), and
// with bit 4 the button let go again.
inline void PressKeysFrom(KeyLatch& keys, std::uint8_t choice)
{
    keys.Press(kKeyValues[choice % 5]);
    if ((choice & 0x10) != 0) {
        keys.Release();
    }
}

// A port fed from a byte queue, with switchable faults, that records every
// write.
class ScriptedPort : public PanelPort {
public:
    bool BytesWaiting(std::size_t& count) override
    {
        if (queryFails) {
            return false;
        }
        count = input.size();
        return true;
    }
    bool ReadByte(std::uint8_t& byte) override
    {
        if (input.empty()) {
            return false;
        }
        const std::uint8_t next = input.front();
        input.pop_front();
        ++bytesTaken;
        if (readFails) {
            return false;
        }
        byte = next;
        return true;
    }
    bool Write(const std::uint8_t* data, std::size_t length) override
    {
        writes.emplace_back(data, data + length);
        return !writeFails;
    }
    void WaitForInput(int) override {}

    void Feed(std::span<const std::uint8_t> bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }

    std::deque<std::uint8_t> input;
    std::vector<Bytes> writes;
    std::size_t bytesTaken = 0;
    bool queryFails = false;
    bool readFails = false;
    bool writeFails = false;
};

// Every event the engine reports, kept until cleared. The storage is kept
// too, so a long script does not allocate for every tick.
class EventLog : public LinkObserver {
public:
    void OnLinkEvent(const LinkEvent& event) override { events.push_back(event); }

    std::vector<LinkEvent> events;
};

// Reads a fuzz input front to back as a script of operations and their
// arguments; past the end every read gives 0. Seeds are therefore plain
// scripts: an operation byte followed by its arguments.
class ByteScript {
public:
    ByteScript(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool AtEnd() const { return position_ >= size_; }
    std::uint8_t Byte() { return AtEnd() ? 0 : data_[position_++]; }
    // A value in [0, count), from one byte.
    unsigned Below(unsigned count) { return Byte() % count; }
    // A little-endian 16-bit value.
    unsigned Word() { return Byte() | (unsigned{Byte()} << 8); }
    std::uint32_t Long() { return Word() | (std::uint32_t{Word()} << 16); }
    Bytes Take(std::size_t count)
    {
        const std::size_t taken = std::min(count, size_ - std::min(position_, size_));
        Bytes bytes(data_ + position_, data_ + position_ + taken);
        position_ += taken;
        return bytes;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// The next operation of a script whose operations are the enumerators of Op
// before Op::Count.
template <typename Op> Op NextOperation(ByteScript& input)
{
    return static_cast<Op>(input.Below(static_cast<unsigned>(Op::Count)));
}

class StepClock : public Clock {
public:
    explicit StepClock(std::uint32_t start) : now(start) {}
    std::uint32_t NowMs() override { return now; }
    std::uint32_t now;
};

// The three reply forms, told apart by their bytes.
enum class ReplyForm { SingleByte, ShortFrame, LongFrame };

struct Reply {
    ReplyForm form;
    std::uint8_t status;
};

// Checks that a write is a well-formed reply and returns its form and status
// byte. In single-byte mode every write of one byte is a reply.
inline Reply ParseReply(const Bytes& bytes, bool singleByteMode)
{
    if (singleByteMode) {
        QUILLON_FUZZ_CHECK(bytes.size() == 1);
        return {ReplyForm::SingleByte, bytes[0]};
    }
    const std::uint8_t status = bytes.size() > 2 ? bytes[2] : 0;
    const auto shortFrame = ShortStatusFrame(status);
    const auto longFrame = LongStatusFrame(status);
    if (std::equal(bytes.begin(), bytes.end(), shortFrame.begin(), shortFrame.end())) {
        return {ReplyForm::ShortFrame, status};
    }
    QUILLON_FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), longFrame.begin(), longFrame.end()));
    return {ReplyForm::LongFrame, status};
}

inline bool IsSynchRequest(const Bytes& bytes)
{
    return std::equal(bytes.begin(), bytes.end(), kSynchRequest.begin(), kSynchRequest.end());
}

// The error nibble of a status byte only ever holds the checksum bit and the
// frame error bit.
inline void CheckStatusNibble(std::uint8_t status)
{
    QUILLON_FUZZ_CHECK((status & kStatusErrorMask & ~(kStatusChecksumError | kStatusFrameError)) == 0);
}

} // namespace quillon::fuzzing
