#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <vector>

#include "link/engine_interfaces.h"
#include "link/frame.h"
#include "link/link_state.h"

// Self-contained stand-ins for the view, the port and the clock, for the fuzz
// targets: single-threaded, no test framework, and every broken invariant
// aborts with the condition that failed, so libFuzzer keeps the input.

namespace quillon::fuzzing {

[[noreturn]] inline void Fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

#define QUILLON_FUZZ_CHECK(condition)                                                                                  \
    ((condition) ? static_cast<void>(0) : ::quillon::fuzzing::Fail(#condition, __FILE__, __LINE__))

// The values the key latch can hold.
inline constexpr std::uint8_t kKeyValues[] = {0, 1, 2, 4, 8};

inline constexpr int kDisplayColumns = 128;
inline constexpr int kDisplayRows = 64;

// A 128 x 64 display as page bytes that refuses any run reaching outside it.
class CheckedView : public PanelView {
public:
    void DrawColumnRun(const DrawRequest& request) override
    {
        QUILLON_FUZZ_CHECK(request.topRow % 8 == 0);
        QUILLON_FUZZ_CHECK(request.topRow < kDisplayRows);
        QUILLON_FUZZ_CHECK(request.startColumn < kDisplayColumns);
        QUILLON_FUZZ_CHECK(request.startColumn + request.length <= kDisplayColumns);
        auto& page = pages[request.topRow / 8];
        for (int i = 0; i < request.length; ++i) {
            page[request.startColumn + i] = request.bytes[i];
        }
        ++runs;
    }
    void RepaintNow() override { ++repaints; }
    std::uint8_t GetKeyBits() const override { return keyBits; }
    void SetKeyBits(std::uint8_t value) override { keyBits = value; }
    bool IsKeyReleased() const override { return keyReleased; }

    // A mouse chosen by one input byte: which key is latched and whether the
    // button has gone up.
    void PressKeysFrom(std::uint8_t choice)
    {
        keyBits = kKeyValues[choice % 5];
        keyReleased = (choice & 0x10) != 0;
    }

    std::array<std::array<std::uint8_t, kDisplayColumns>, kDisplayRows / 8> pages{};
    std::size_t runs = 0;
    std::size_t repaints = 0;
    std::uint8_t keyBits = 0;
    bool keyReleased = false;
};

// A port fed from a byte queue, with switchable faults, that records every
// write and what the last read did.
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

    std::deque<std::uint8_t> input;
    std::vector<std::vector<std::uint8_t>> writes;
    std::size_t bytesTaken = 0;
    bool queryFails = false;
    bool readFails = false;
    bool writeFails = false;
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
    std::vector<std::uint8_t> Bytes(std::size_t count)
    {
        std::vector<std::uint8_t> bytes;
        while (count-- > 0 && !AtEnd()) {
            bytes.push_back(data_[position_++]);
        }
        return bytes;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

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
inline Reply ParseReply(const std::vector<std::uint8_t>& bytes, bool singleByteMode)
{
    if (singleByteMode) {
        QUILLON_FUZZ_CHECK(bytes.size() == 1);
        return {ReplyForm::SingleByte, bytes[0]};
    }
    QUILLON_FUZZ_CHECK(bytes.size() == 4 || bytes.size() == 12);
    const std::uint8_t status = bytes[2];
    if (bytes.size() == 4) {
        const auto expected = ShortStatusFrame(status);
        QUILLON_FUZZ_CHECK(std::equal(expected.begin(), expected.end(), bytes.begin()));
        return {ReplyForm::ShortFrame, status};
    }
    const auto expected = LongStatusFrame(status);
    QUILLON_FUZZ_CHECK(std::equal(expected.begin(), expected.end(), bytes.begin()));
    return {ReplyForm::LongFrame, status};
}

inline bool IsSynchRequest(const std::vector<std::uint8_t>& bytes)
{
    return bytes.size() == kSynchRequest.size() &&
           std::equal(kSynchRequest.begin(), kSynchRequest.end(), bytes.begin());
}

// The error nibble of a status byte only ever holds the checksum bit and the
// frame error bit.
inline void CheckStatusNibble(std::uint8_t status)
{
    QUILLON_FUZZ_CHECK((status & kStatusErrorMask & ~(kStatusChecksumError | kStatusFrameError)) == 0);
}

} // namespace quillon::fuzzing
