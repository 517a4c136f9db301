#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "tests/support/fakes.h"

namespace quillon::testing {

inline Bytes Repeat(std::initializer_list<std::pair<std::uint8_t, int>> pieces)
{
    Bytes bytes;
    for (const auto& [value, count] : pieces) {
        bytes.insert(bytes.end(), count, value);
    }
    return bytes;
}

// Drives a display controller of its own, with no link: a frame is
// validated and, when clean, carried out as the supervisor would.
class DisplayTest : public ::testing::Test {
protected:
    DisplayTest() { display.SetRunListener(&runs); }

    // Returns the error bits of validation; the frame runs only when they
    // are 0. Errors() then holds them and the bits the command raised.
    std::uint8_t Run(const Bytes& frame)
    {
        const std::uint8_t invalid = DisplayController::ValidateFrame(frame);
        errors_ = invalid == 0 ? display.ExecuteFrame(frame).errors : invalid;
        return invalid;
    }

    std::uint8_t Command(std::uint8_t code, const Bytes& data) { return Run(Frame(code, data)); }

    // A text of the program's own, as PutString draws it.
    void Text(std::string_view text, std::uint8_t attribute, std::uint8_t column)
    {
        errors_ = display.PutString(text, attribute, column, false);
    }

    std::uint8_t Errors() const { return errors_; }

    // Sets every column byte to value with one full-width run per page, then
    // forgets those runs.
    void Fill(std::uint8_t value)
    {
        for (std::uint8_t page = 0; page < kDisplayPages; ++page) {
            Command(kDrawAndRepeat, {0, page, kDisplayColumns - 1, value});
        }
        runs.Clear();
        errors_ = 0;
    }

    const DisplayMemory& Memory() const { return display.memory(); }
    Bytes Columns(int page, int first, int count) const { return testing::Columns(Memory(), page, first, count); }
    std::vector<RunPlace> Places() const { return runs.Places(); }

    DisplayController display;
    RunLog runs{display.memory()};

private:
    std::uint8_t errors_ = 0;
};

} // namespace quillon::testing
