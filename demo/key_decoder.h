#pragma once

#include <cstdint>

#include "demo/demo_model.h"

namespace quillon::demo {

// Turns the key nibbles of successive replies into key presses. The panel
// reports a latched key in every reply until it has been let go, so a key
// seen in consecutive replies is one press; up and down held for a while
// repeat, so that a value can be run through without a click per step.
class KeyDecoder {
public:
    static constexpr std::uint32_t kRepeatDelayMs = 500;
    static constexpr std::uint32_t kRepeatIntervalMs = 150;

    // Takes the status byte of a reply received at nowMs; returns the key
    // pressed, or Key::None.
    Key Feed(std::uint8_t status, std::uint32_t nowMs);

private:
    Key held_ = Key::None;
    std::uint32_t heldSinceMs_ = 0;
    std::uint32_t lastRepeatMs_ = 0;
};

} // namespace quillon::demo
