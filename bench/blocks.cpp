#include "bench/blocks.h"

#include <array>
#include <random>

#include "link/frame.h"
#include "link/link_state.h"

namespace quillon::bench {

namespace {

struct SizeInfo {
    std::uint8_t size;
    std::uint8_t scaleX;
    std::uint8_t bandPages;
    std::uint8_t lineLimit;
};

constexpr std::array<SizeInfo, 5> kSizes{{
    {0, 1, 1, 21},
    {1, 1, 2, 21},
    {3, 3, 3, 7},
    {4, 4, 4, 5},
    {5, 5, 6, 4},
}};

const SizeInfo& InfoFor(std::uint8_t size)
{
    for (const SizeInfo& info : kSizes) {
        if (info.size == size) {
            return info;
        }
    }
    return kSizes.front();
}

constexpr std::uint8_t kDisplayColumns = 128;
constexpr std::uint8_t kDisplayPages = 8;
constexpr std::size_t kCellColumns = 6;
constexpr std::uint8_t kWideIcons = 30;
constexpr std::uint8_t kAllIcons = 42;
constexpr std::uint8_t kWideIconWidth = 25;
constexpr std::uint8_t kNarrowIconWidth = 12;

// A frame costs its data plus code, length and checksum bytes.
constexpr std::size_t kFrameOverhead = 3;

std::uint8_t Printable(std::size_t index)
{
    return static_cast<std::uint8_t>('A' + index % 26);
}

// Small deterministic helpers over mt19937, whose sequence the standard fixes.
class Dice {
public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}
    // A value from low to high, both included.
    unsigned Roll(unsigned low, unsigned high) { return low + static_cast<unsigned>(engine_() % (high - low + 1)); }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(engine_()); }

private:
    std::mt19937 engine_;
};

FrameContent RandomText(Dice& dice)
{
    const SizeInfo& info = kSizes[dice.Roll(0, kSizes.size() - 1)];
    const auto count = static_cast<std::uint8_t>(dice.Roll(1, info.lineLimit));
    const unsigned width = count * kCellColumns * info.scaleX;
    const auto page = static_cast<std::uint8_t>(dice.Roll(0, kDisplayPages - info.bandPages));
    const auto column = static_cast<std::uint8_t>(dice.Roll(0, kDisplayColumns - width));
    FrameContent text = Text(info.size, page, column, count);
    for (std::size_t i = 0; i < count; ++i) {
        text.data[2 + i] = static_cast<std::uint8_t>(dice.Roll(32, 126));
    }
    return text;
}

FrameContent RandomArray(Dice& dice)
{
    const auto length = static_cast<std::uint8_t>(dice.Roll(8, 64));
    Bytes data{static_cast<std::uint8_t>(dice.Roll(0, kDisplayColumns - length)),
               static_cast<std::uint8_t>(dice.Roll(0, kDisplayPages - 1))};
    for (std::size_t i = 0; i < length; ++i) {
        data.push_back(dice.Byte());
    }
    return {kWriteArray, data};
}

FrameContent RandomBlank(Dice& dice)
{
    const unsigned first = dice.Roll(0, kDisplayPages - 1);
    const unsigned last = dice.Roll(first, kDisplayPages - 1);
    return {kBlankArea, {static_cast<std::uint8_t>(first | (last << 3))}};
}

FrameContent RandomSlider(Dice& dice)
{
    const bool twoPages = dice.Roll(0, 1) == 1;
    Bytes data{static_cast<std::uint8_t>(dice.Roll(0, 99)),
               static_cast<std::uint8_t>(dice.Roll(1, twoPages ? kDisplayPages - 2 : kDisplayPages - 1))};
    for (std::size_t i = 0; i < (twoPages ? 6u : 3u); ++i) {
        data.push_back(dice.Byte());
    }
    return {kDrawSliderBar, data};
}

FrameContent RandomHeader(Dice& dice)
{
    const unsigned length = dice.Roll(4, 17);
    Bytes title;
    for (std::size_t i = 0; i < length; ++i) {
        title.push_back(static_cast<std::uint8_t>(dice.Roll('A', 'Z')));
    }
    return {kWriteFrameHeader, title};
}

FrameContent RandomRepeat(Dice& dice)
{
    const unsigned pattern = dice.Roll(1, 4);
    const unsigned copies = dice.Roll(1, kDisplayColumns / pattern);
    const unsigned total = pattern * copies;
    Bytes data{static_cast<std::uint8_t>(dice.Roll(0, kDisplayColumns - total)),
               static_cast<std::uint8_t>(dice.Roll(0, kDisplayPages - 1)), static_cast<std::uint8_t>(copies - 1)};
    for (std::size_t i = 0; i < pattern; ++i) {
        data.push_back(dice.Byte());
    }
    return {kDrawAndRepeat, data};
}

FrameContent RandomIcon(Dice& dice)
{
    const auto icon = static_cast<std::uint8_t>(dice.Roll(0, kAllIcons - 1));
    const std::uint8_t width = icon < kWideIcons ? kWideIconWidth : kNarrowIconWidth;
    return {kDrawIcon,
            {static_cast<std::uint8_t>(dice.Roll(0, kDisplayColumns - width)),
             static_cast<std::uint8_t>(dice.Roll(0, kDisplayPages - 1)), icon}};
}

// A device mostly writes text and icons, now and then a whole screen.
FrameContent RandomFrame(Dice& dice)
{
    const unsigned pick = dice.Roll(0, 99);
    if (pick < 40) {
        return RandomText(dice);
    }
    if (pick < 52) {
        return RandomIcon(dice);
    }
    if (pick < 62) {
        return RandomArray(dice);
    }
    if (pick < 70) {
        return RandomSlider(dice);
    }
    if (pick < 77) {
        return RandomRepeat(dice);
    }
    if (pick < 83) {
        return RandomBlank(dice);
    }
    if (pick < 88) {
        return RandomHeader(dice);
    }
    if (pick < 94) {
        return {kSetContrast, {static_cast<std::uint8_t>(dice.Roll(0, 63))}};
    }
    return {kReadSwitches, {0x00}};
}

} // namespace

Bytes Block(const std::vector<FrameContent>& frames)
{
    Bytes block;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::size_t start = block.size();
        const bool last = i + 1 == frames.size();
        block.push_back(last ? static_cast<std::uint8_t>(frames[i].code | kLastFrameBit) : frames[i].code);
        block.push_back(static_cast<std::uint8_t>(frames[i].data.size()));
        block.insert(block.end(), frames[i].data.begin(), frames[i].data.end());
        block.push_back(FrameChecksum(block.data() + start, block.size() - start));
    }
    return block;
}

std::size_t CountFrames(const Bytes& block)
{
    std::size_t frames = 0;
    for (std::size_t at = 0; at + 1 < block.size(); at += block[at + 1] + kFrameOverhead) {
        ++frames;
    }
    return frames;
}

std::uint8_t LineLimit(std::uint8_t size)
{
    return InfoFor(size).lineLimit;
}

std::uint8_t BandPages(std::uint8_t size)
{
    return InfoFor(size).bandPages;
}

FrameContent Text(std::uint8_t size, std::uint8_t page, std::uint8_t column, std::size_t count)
{
    FrameContent text{kWriteString, {column, static_cast<std::uint8_t>(page | (size << 3))}};
    for (std::size_t i = 0; i < count; ++i) {
        text.data.push_back(Printable(i));
    }
    return text;
}

std::vector<NamedBlock> FunctionCodeBlocks()
{
    std::vector<NamedBlock> blocks;
    for (const std::uint8_t size : kTextSizes) {
        blocks.push_back({"WriteString/size" + std::to_string(size), Block({Text(size, 0, 0, LineLimit(size))})});
    }
    Bytes fullPage{0, 3};
    for (std::size_t i = 0; i < kMaxFrameDataLength - 2; ++i) {
        fullPage.push_back(static_cast<std::uint8_t>(i * 37));
    }
    blocks.push_back({"WriteArray/115", Block({{kWriteArray, fullPage}})});
    blocks.push_back({"SetupDisplay/startup", Block({{kSetupDisplay, {0x80}}})});
    blocks.push_back({"BlankArea/whole", Block({{kBlankArea, {0x38}}})});
    blocks.push_back({"ReadSwitches", Block({{kReadSwitches, {0x00}}})});
    blocks.push_back({"SetContrast", Block({{kSetContrast, {0x20}}})});
    blocks.push_back({"DrawSliderBar/2pages", Block({{kDrawSliderBar, {42, 2, 0xFF, 0x81, 0xFF, 0xFF, 0x81, 0xFF}}})});
    blocks.push_back({"WriteFrameHeader/17", Block({{kWriteFrameHeader, Bytes(17, 'M')}})});
    blocks.push_back({"DrawAndRepeat/128", Block({{kDrawAndRepeat, {0, 4, 31, 0x0F, 0xF0, 0x0F, 0xF0}}})});
    blocks.push_back({"DrawIcon/wide", Block({{kDrawIcon, {10, 2, 5}}})});
    blocks.push_back({"SetContrastAndReplyMode", Block({{kSetContrastAndReplyMode, {0x20, 0x01, 0x00}}})});
    return blocks;
}

Bytes HeaviestBlock()
{
    return Block({{kBlankArea, {0x38}}, Text(5, 1, 8, LineLimit(5))});
}

std::vector<Bytes> MixedBlocks(std::size_t count, std::uint32_t seed)
{
    Dice dice(seed);
    std::vector<Bytes> blocks;
    blocks.reserve(count);
    while (blocks.size() < count) {
        const unsigned wanted = dice.Roll(1, 4);
        std::vector<FrameContent> frames;
        std::size_t bytes = 0;
        while (frames.size() < wanted) {
            FrameContent next = RandomFrame(dice);
            if (bytes + next.data.size() + kFrameOverhead > kRxBufferSize) {
                break;
            }
            bytes += next.data.size() + kFrameOverhead;
            frames.push_back(std::move(next));
        }
        if (!frames.empty()) {
            blocks.push_back(Block(frames));
        }
    }
    return blocks;
}

} // namespace quillon::bench
