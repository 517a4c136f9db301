#include <algorithm>

#include "display/controller.h"
#include "link/panel_link.h"

namespace quillon {

void CPanelLink::WriteColumnRun(const std::uint8_t* source)
{
    DisplayWork& work = state_.work;

    // A bad address is not refused: the run is moved to where it fits and the
    // device hears about it through the status byte. The corrected values are
    // written back because callers go on from them.
    if (work.runPage >= kDisplayPages) {
        state_.status |= kStatusFrameError;
        work.runPage = 0;
    }
    if (work.runColumn >= kDisplayColumns) {
        state_.status |= kStatusFrameError;
        work.runColumn = 0;
    }
    if (work.runLength > kDisplayColumns - work.runColumn) {
        state_.status |= kStatusFrameError;
        work.runLength = static_cast<std::uint8_t>(kDisplayColumns - work.runColumn);
    }

    std::copy_n(source, work.runLength, drawRequest_.bytes.begin());
    drawRequest_.startColumn = work.runColumn;
    drawRequest_.topRow = static_cast<std::uint8_t>(work.runPage * kRowsPerPage);
    drawRequest_.length = work.runLength;

    view_.DrawColumnRun(drawRequest_);
    view_.RepaintNow();
}

void CPanelLink::ClearPages()
{
    DisplayWork& work = state_.work;
    const std::uint8_t range = state_.pageRange;
    const std::uint8_t first = range & 0x07;
    const std::uint8_t last = (range >> 3) & 0x07;

    if ((range & 0xC0) != 0 || first > last) {
        state_.status |= kStatusFrameError;
        return;
    }

    // Each page goes out as two half-width runs, left half first, the way the
    // panel's controller clears it.
    constexpr std::uint8_t kHalf = kDisplayColumns / 2;
    for (std::uint8_t page = first; page <= last; ++page) {
        for (std::uint8_t column : {std::uint8_t{0}, kHalf}) {
            std::fill_n(work.runBuffer.begin(), kHalf, std::uint8_t{0});
            work.runLength = kHalf;
            work.runPage = page;
            work.runColumn = column;
            WriteColumnRun(work.runBuffer.data());
        }
    }
}

} // namespace quillon
