#include "host/display_pacer.h"

namespace quillon {

std::optional<std::string> DisplayPacer::Take()
{
    if (Wait() != std::uint64_t{0}) {
        return std::nullopt;
    }
    takenUs_ = clock_.NowMicros();
    auto display = std::move(kept_);
    kept_.reset();
    return display;
}

std::optional<std::uint64_t> DisplayPacer::Wait()
{
    if (!kept_) {
        return std::nullopt;
    }
    const std::uint64_t since = takenUs_ ? clock_.NowMicros() - *takenUs_ : kFrameUs;
    return since >= kFrameUs ? 0 : kFrameUs - since;
}

} // namespace quillon
