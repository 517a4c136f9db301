#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/engine_interfaces.h"

namespace quillon {

// The display events of one web client: the latest display kept, sent no
// sooner than an animation frame after the one before, so that a page is
// never sent more than it can paint and the last change always reaches it.
class DisplayPacer {
public:
    // An animation frame at 60 frames a second, rounded up.
    static constexpr std::uint64_t kFrameUs = (1'000'000 + 59) / 60;

    explicit DisplayPacer(Clock& clock) : clock_(clock) {}

    // Keeps a display, in place of one not yet sent.
    void Keep(std::string display) { kept_ = std::move(display); }
    // The display kept, once a frame has passed since the last one taken;
    // nothing before then or when none is kept.
    std::optional<std::string> Take();
    // Microseconds until the kept display may be taken; nothing when none is
    // kept.
    std::optional<std::uint64_t> Wait();

private:
    Clock& clock_;
    std::optional<std::string> kept_;
    std::optional<std::uint64_t> takenUs_;
};

} // namespace quillon
