#include "link/link_events.h"

#include <algorithm>

namespace quillon {

void LinkEvent::SetBytes(std::span<const std::uint8_t> source)
{
    length = static_cast<std::uint8_t>(std::min(source.size(), data.size()));
    std::copy_n(source.begin(), length, data.begin());
}

} // namespace quillon
