#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "demo/demo_model.h"

namespace quillon::demo {

// One command for the panel: a function code and its data bytes. The code
// byte's bit 7, the length and the checksum are added by the protocol's
// encoder when the frame is packed into a block.
struct Frame {
    std::uint8_t code = 0;
    std::vector<std::uint8_t> data;
    // Close the block after this frame, so that the reply answers it: a block
    // that ends with function code 14 is answered with the long status frame.
    bool endsBlock = false;

    bool operator==(const Frame&) const = default;
};

// The bytes of one block, ready for the line.
using Block = std::vector<std::uint8_t>;

// Packs frames, in order, into as few blocks as fit the panel's receive
// buffer each (and endsBlock allows), encoded by EncodeBlock: bit 7 marks the
// last frame of every block, and every frame gets its checksum.
std::vector<Block> PackBlocks(const std::vector<Frame>& frames);

// The function codes of the frames in a block, as a bit set (bit n for code n).
std::uint16_t FunctionCodesOf(const Block& block);

// Frame builders, one per function code the panel carries out. Texts are in
// the panel's character set; columns and pages as the display counts them.
Frame WriteString(std::uint8_t column, std::uint8_t attribute, const std::string& text, bool clearFirst);
Frame WriteArray(std::uint8_t column, std::uint8_t page, const std::vector<std::uint8_t>& columns);
Frame SetupDisplay(std::uint8_t setupByte);
Frame BlankArea(std::uint8_t firstPage, std::uint8_t lastPage);
Frame ReadSwitches();
Frame SetContrast(std::uint8_t contrast);
Frame DrawSliderBar(std::uint8_t number, std::uint8_t page, const std::vector<std::uint8_t>& sliderBytes);
Frame WriteFrameHeader(const std::string& title);
Frame DrawAndRepeat(std::uint8_t column, std::uint8_t page, std::uint8_t repeats,
                    const std::vector<std::uint8_t>& pattern);
Frame DrawIcon(std::uint8_t column, std::uint8_t page, std::uint8_t icon);
Frame SetContrastAndReplyMode(std::uint8_t contrast, std::uint16_t replyMode);

// Text attribute byte: page in bits 0-2, size in bits 3-5, inverse in bit 6.
std::uint8_t TextAttribute(std::uint8_t page, std::uint8_t size, bool inverse);

// Characters of the panel's set that the screens use.
inline constexpr char kArrowUp = '\x06';
inline constexpr char kArrowDown = '\x07';
inline constexpr char kDegreeSign = '\x0B';

// Where the slider bar's thumb sits for a value out of 0..max: the page of
// its top and the column bytes of columns 125 to 127 for that page and, when
// the thumb reaches into it, the next (3 or 6 bytes).
struct SliderThumb {
    std::uint8_t page = 0;
    std::vector<std::uint8_t> bytes;
};
SliderThumb SliderFor(int value, int max);

// The status screen's load at a step of its animation, in percent.
int LoadAt(int step);

// The panel's set-up after it has first answered: no start-up screen, the
// contrast, and the reply mode the panel already answers in.
std::vector<Frame> StartFrames(const DemoModel& model, std::uint16_t replyMode);
// The whole screen of the model, from a display in any state.
std::vector<Frame> DrawScreen(const DemoModel& model);
// What turns the picture of `from` into the picture of `to`: only the parts
// that differ when the screen stays, the whole screen when it changes.
std::vector<Frame> DrawChange(const DemoModel& from, const DemoModel& to, std::uint16_t replyMode);

} // namespace quillon::demo
