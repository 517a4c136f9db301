#include "link/key_latch.h"

namespace quillon {

void KeyLatch::Press(std::uint8_t keyBits)
{
    released_ = false;
    if (keyBits != 0) {
        bits_ = keyBits;
    }
}

void KeyLatch::AfterReply()
{
    if (released_) {
        bits_ = 0;
    }
}

} // namespace quillon
