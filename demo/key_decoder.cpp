#include "demo/key_decoder.h"

namespace quillon::demo {

namespace {

Key KeyOf(std::uint8_t status)
{
    switch (status >> 4) {
    case 1:
        return Key::Right;
    case 2:
        return Key::Left;
    case 4:
        return Key::Up;
    case 8:
        return Key::Down;
    default:
        return Key::None;
    }
}

} // namespace

Key KeyDecoder::Feed(std::uint8_t status, std::uint32_t nowMs)
{
    const Key key = KeyOf(status);
    if (key != held_) {
        held_ = key;
        heldSinceMs_ = nowMs;
        lastRepeatMs_ = nowMs;
        return key;
    }
    const bool repeats = key == Key::Up || key == Key::Down;
    if (repeats && nowMs - heldSinceMs_ >= kRepeatDelayMs && nowMs - lastRepeatMs_ >= kRepeatIntervalMs) {
        lastRepeatMs_ = nowMs;
        return key;
    }
    return Key::None;
}

} // namespace quillon::demo
