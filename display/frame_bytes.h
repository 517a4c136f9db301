#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillon {

// Byte `index` of a frame or its data; past what arrived it reads as 0, as a
// position past the receive buffer does, so a corrupt length can never reach
// outside the bytes handed over.
inline std::uint8_t ByteOf(std::span<const std::uint8_t> bytes, std::size_t index)
{
    return index < bytes.size() ? bytes[index] : 0;
}

// The bytes from index on, empty when index lies past the end.
inline std::span<const std::uint8_t> BytesFrom(std::span<const std::uint8_t> bytes, std::size_t index)
{
    return index < bytes.size() ? bytes.subspan(index) : std::span<const std::uint8_t>{};
}

} // namespace quillon
