#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_state.h"

namespace quillon {

// The display is 128 columns by 8 pages of 8 pixel rows; one column byte
// covers one column of one page, bit 0 the top row.
inline constexpr std::uint8_t kDisplayColumns = 128;
inline constexpr std::uint8_t kDisplayPages = 8;
inline constexpr std::uint8_t kRowsPerPage = 8;

// pageRange value that covers the whole display: first page 0, last page 7.
inline constexpr std::uint8_t kWholeDisplayPageRange = 0x38;

// Data byte `index` of the frame at frameCursor. Read through the checked
// accessor, so a corrupt cursor or length can never reach past the buffer.
inline std::uint8_t FrameData(const LinkState& state, std::size_t index)
{
    return state.rxBuffer.At(std::size_t{state.work.frameCursor} + 2 + index);
}

// Byte `index` of the data that dataPtr points at.
inline std::uint8_t DataAt(const LinkState& state, std::size_t index)
{
    return state.rxBuffer.At(std::size_t{state.dataPtr} + index);
}

} // namespace quillon
