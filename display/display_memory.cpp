#include "display/display_memory.h"

#include <algorithm>

namespace quillon {

DisplayRect DisplayRect::United(const DisplayRect& other) const
{
    if (other.empty()) {
        return *this;
    }
    if (empty()) {
        return other;
    }
    return {std::min(left, other.left), std::min(top, other.top), std::max(right, other.right),
            std::max(bottom, other.bottom)};
}

void DisplayMemory::WriteRun(std::uint8_t page, std::uint8_t column, std::span<const std::uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), pages_[page].begin() + column);
    std::fill_n(writers_[page].begin() + column, bytes.size(), writer_);
    ++changeCount_;
    const int top = page * kRowsPerPage;
    changes_ = changes_.United({column, top, column + static_cast<int>(bytes.size()), top + kRowsPerPage});
}

} // namespace quillon
