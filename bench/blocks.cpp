#include "bench/blocks.h"

#include <array>
#include <random>

#include "display/display_memory.h"
#include "display/glyph_tables.h"
#include "display/text_sizes.h"

namespace quillon::bench {

namespace {

// A character cell is a glyph and one blank column, times the size's scale.
constexpr std::size_t kCellColumns = kGlyphWidth + 1;
constexpr std::uint8_t kAllIcons = kWideIconCount + kNarrowIconCount;

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
    const std::vector<std::uint8_t> sizes = DrawnTextSizes();
    const std::uint8_t size = sizes[dice.Roll(0, static_cast<unsigned>(sizes.size() - 1))];
    const TextSize& info = kTextSizes[size];
    const auto count = static_cast<std::uint8_t>(dice.Roll(1, info.lineLimit));
    const unsigned width = count * kCellColumns * info.scaleX;
    const auto page = static_cast<std::uint8_t>(dice.Roll(0, kDisplayPages - info.bandPages));
    const auto column = static_cast<std::uint8_t>(dice.Roll(0, kDisplayColumns - width));
    FrameContent text = Text(size, page, column, count);
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
    const auto width = static_cast<std::uint8_t>(icon < kWideIconCount ? kWideIconWidth : kNarrowIconWidth);
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

std::size_t CountFrames(const Bytes& block)
{
    std::size_t frames = 0;
    for (std::size_t at = 0; at + 1 < block.size(); at += block[at + 1] + kFrameOverhead) {
        ++frames;
    }
    return frames;
}

std::vector<std::uint8_t> DrawnTextSizes()
{
    std::vector<std::uint8_t> sizes;
    for (std::uint8_t code = 0; code < kTextSizes.size(); ++code) {
        if (kTextSizes[code].lineLimit != 0) {
            sizes.push_back(code);
        }
    }
    return sizes;
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
    for (const std::uint8_t size : DrawnTextSizes()) {
        const FrameContent text = Text(size, 0, 0, kTextSizes[size].lineLimit);
        blocks.push_back({"WriteString/size" + std::to_string(size), EncodeFrame(text.code, text.data)});
    }
    Bytes fullPage{0, 3};
    for (std::size_t i = 0; i < kMaxFrameDataLength - 2; ++i) {
        fullPage.push_back(static_cast<std::uint8_t>(i * 37));
    }
    blocks.push_back({"WriteArray/115", EncodeFrame(kWriteArray, fullPage)});
    blocks.push_back({"SetupDisplay/startup", EncodeFrame(kSetupDisplay, Bytes{0x80})});
    blocks.push_back({"BlankArea/whole", EncodeFrame(kBlankArea, Bytes{0x38})});
    blocks.push_back({"ReadSwitches", EncodeFrame(kReadSwitches, Bytes{0x00})});
    blocks.push_back({"SetContrast", EncodeFrame(kSetContrast, Bytes{0x20})});
    blocks.push_back(
        {"DrawSliderBar/2pages", EncodeFrame(kDrawSliderBar, Bytes{42, 2, 0xFF, 0x81, 0xFF, 0xFF, 0x81, 0xFF})});
    blocks.push_back({"WriteFrameHeader/17", EncodeFrame(kWriteFrameHeader, Bytes(17, 'M'))});
    blocks.push_back({"DrawAndRepeat/128", EncodeFrame(kDrawAndRepeat, Bytes{0, 4, 31, 0x0F, 0xF0, 0x0F, 0xF0})});
    blocks.push_back({"DrawIcon/wide", EncodeFrame(kDrawIcon, Bytes{10, 2, 5})});
    blocks.push_back({"SetContrastAndReplyMode", EncodeFrame(kSetContrastAndReplyMode, Bytes{0x20, 0x01, 0x00})});
    return blocks;
}

Bytes HeaviestBlock()
{
    const std::array<FrameContent, 2> frames{{{kBlankArea, {0x38}}, Text(5, 1, 8, kTextSizes[5].lineLimit)}};
    return EncodeBlock(frames);
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
            blocks.push_back(EncodeBlock(frames));
        }
    }
    return blocks;
}

} // namespace quillon::bench
