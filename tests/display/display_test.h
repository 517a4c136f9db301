#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <tuple>
#include <vector>

#include "tests/support/fakes.h"

namespace quillon::testing {

using Bytes = std::vector<std::uint8_t>;

// Where one column run went, without its bytes: enough to compare the order
// and placement of the runs an operation writes.
struct RunPlace {
    int column;
    int page;
    int length;
    bool operator==(const RunPlace&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RunPlace& run)
{
    return out << "{column " << run.column << ", page " << run.page << ", length " << run.length << "}";
}

inline Bytes Repeat(std::initializer_list<std::pair<std::uint8_t, int>> pieces)
{
    Bytes bytes;
    for (const auto& [value, count] : pieces) {
        bytes.insert(bytes.end(), count, value);
    }
    return bytes;
}

// Drives the display controller directly: a frame is placed into the receive
// buffer as the receiver would store it, then validated and carried out as
// the supervisor would.
class DisplayTest : public ::testing::Test {
protected:
    void Place(const Bytes& frame, std::size_t at = 0)
    {
        for (std::size_t i = 0; i < frame.size(); ++i) {
            f.state.rxBuffer.Set(at + i, frame[i]);
        }
        f.state.work.frameCursor = static_cast<std::uint8_t>(at);
    }

    // Returns the error nibble of validation; the frame runs only when it is 0.
    std::uint8_t Run(const Bytes& frame, std::size_t at = 0)
    {
        Place(frame, at);
        const std::uint8_t errors = f.link.ValidateFrame();
        if (errors == 0) {
            f.link.ExecuteFrame();
        }
        return errors;
    }

    std::uint8_t Command(std::uint8_t code, const Bytes& data) { return Run(EngineFixture::Frame(code, data)); }

    std::vector<RunPlace> Places() const
    {
        std::vector<RunPlace> places;
        for (const auto& run : f.view.runs) {
            places.push_back({run.column, run.page, static_cast<int>(run.bytes.size())});
        }
        return places;
    }

    std::uint8_t Errors() const { return f.state.status & 0x0F; }

    EngineFixture f;
};

} // namespace quillon::testing
