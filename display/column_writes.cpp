#include <algorithm>
#include <array>

#include "display/display_controller.h"
#include "protocol/protocol.h"

namespace quillon {

DisplayController::Placement DisplayController::WriteColumnRun(std::uint8_t page, std::uint8_t column,
                                                               std::span<const std::uint8_t> bytes)
{
    // A bad address is not refused: the run is moved to where it fits and the
    // device hears about it through the status byte. Callers go on from where
    // the run really went.
    if (page >= kDisplayPages) {
        errors_ |= kStatusFrameError;
        page = 0;
    }
    if (column >= kDisplayColumns) {
        errors_ |= kStatusFrameError;
        column = 0;
    }
    if (bytes.size() > std::size_t{kDisplayColumns} - column) {
        errors_ |= kStatusFrameError;
        bytes = bytes.first(kDisplayColumns - column);
    }

    memory_.WriteRun(page, column, bytes);
    const int top = page * kRowsPerPage;
    const DisplayRect area{column, top, column + static_cast<int>(bytes.size()), top + kRowsPerPage};
    changed_ = changed_.United(area);
    if (listener_ != nullptr) {
        listener_->RunWritten(area);
    }
    return {page, column};
}

void DisplayController::ClearPages(std::uint8_t pageRange)
{
    const std::uint8_t first = pageRange & 0x07;
    const std::uint8_t last = (pageRange >> 3) & 0x07;

    if ((pageRange & 0xC0) != 0 || first > last) {
        errors_ |= kStatusFrameError;
        return;
    }

    // Each page goes out as two half-width runs, left half first, the way the
    // panel's controller clears it.
    constexpr std::uint8_t kHalf = kDisplayColumns / 2;
    constexpr std::array<std::uint8_t, kHalf> kBlank{};
    for (std::uint8_t page = first; page <= last; ++page) {
        for (const std::uint8_t column : {std::uint8_t{0}, kHalf}) {
            WriteColumnRun(page, column, kBlank);
        }
    }
}

} // namespace quillon
