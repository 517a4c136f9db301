#pragma once

#include <cstdint>

namespace quillon {

// The panel's key latch. A press latches its key's bit until a reply has
// carried it and the key has been let go; a press that hits no key keeps
// whatever was latched. The front end reports presses and releases (mouse or
// keyboard alike); the supervisor reads the bits into every status byte and
// calls AfterReply once the reply is out. Used on the ticking thread only.
class KeyLatch {
public:
    // keyBits is 1, 2, 4 or 8 for a key, 0 for a press beside the keys.
    void Press(std::uint8_t keyBits);
    void Release() { released_ = true; }
    void AfterReply();

    std::uint8_t bits() const { return bits_; }
    bool released() const { return released_; }

private:
    std::uint8_t bits_ = 0;
    bool released_ = false;
};

} // namespace quillon
