#pragma once

#include <chrono>
#include <cstdint>

#include "link/engine_interfaces.h"

namespace quillon {

// The link's millisecond up-time clock. It wraps after about 49.7 days; the
// link's time-outs compare unsigned differences, so the wrap is harmless.
class SteadyClock final : public Clock {
public:
    std::uint32_t NowMs() override
    {
        const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
    }
};

} // namespace quillon
