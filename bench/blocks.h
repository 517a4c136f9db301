#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/protocol.h"

namespace quillon::bench {

using Bytes = std::vector<std::uint8_t>;

// Number of frames in a well-formed block.
std::size_t CountFrames(const Bytes& block);

// The size codes that draw text, smallest first.
std::vector<std::uint8_t> DrawnTextSizes();

// A WRITE STRING of `count` printable characters in `size`, its band's top at
// `page`, from `column`.
FrameContent Text(std::uint8_t size, std::uint8_t page, std::uint8_t column, std::size_t count);

struct NamedBlock {
    std::string name;
    Bytes bytes;
};

// A one-frame block for every function code the panel carries out, each doing
// the largest piece of work its code allows, and WRITE STRING once per size
// with a full line.
std::vector<NamedBlock> FunctionCodeBlocks();

// The dearest work one block can ask for: the whole display cleared, then four
// characters in size 5 (six pages, the largest text).
Bytes HeaviestBlock();

// `count` blocks of mixed commands, the way a device redraws its screens:
// one to four frames, at most 120 bytes, every frame valid and drawn inside
// the display, so each block is answered with a clean status. The same seed
// gives the same blocks on every machine.
std::vector<Bytes> MixedBlocks(std::size_t count, std::uint32_t seed);

} // namespace quillon::bench
