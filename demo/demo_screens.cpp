#include "demo/demo_screens.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <stdexcept>

namespace quillon::demo {

namespace {

// Bit 7 of WRITE STRING's column byte clears the display first.
constexpr std::uint8_t kClearFirst = 0x80;

// Text sizes: 0 is one page high, 4 four pages (24 columns a character), 5
// six pages (30 columns a character).
constexpr std::uint8_t kSmallText = 0;
constexpr std::uint8_t kLargeText = 4;
constexpr std::uint8_t kLargestText = 5;

constexpr std::size_t kLineCharacters = 21;
constexpr std::uint8_t kFirstMenuPage = 2;
constexpr std::uint8_t kHintPage = 7;

// The slider bar's track runs down column 126 from row 9 to row 54; a thumb
// four rows high fills columns 125 to 127 from its top row.
constexpr int kTrackTop = 9;
constexpr int kThumbRows = 4;
constexpr int kThumbTravel = 54 - kThumbRows + 1 - kTrackTop;

// The status screen's trend: one bar of three columns and a gap per step.
constexpr int kTrendBars = 24;
constexpr std::uint8_t kTrendColumn = 2;
constexpr std::uint8_t kTrendPage = 7;
constexpr std::uint8_t kLoadPage = 6;

Frame MakeFrame(std::uint8_t code, std::vector<std::uint8_t> data)
{
    if (data.size() > kMaxFrameDataLength) {
        throw std::length_error("a frame carries at most 117 data bytes");
    }
    return Frame{code, std::move(data), false};
}

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

std::string TwoDigits(int value)
{
    // Built by appending: g++ 12 at -O2 warns falsely (-Wrestrict) about
    // prepending to a temporary string.
    std::string text(value < 10 ? 1 : 0, ' ');
    text += std::to_string(value);
    return text;
}

std::string Arrows()
{
    return {kArrowUp, kArrowDown};
}

// A menu line across the display: the label from its second character, the
// value ending one character before the right edge.
std::string MenuLine(const std::string& label, const std::string& value)
{
    std::string line(kLineCharacters, ' ');
    line.replace(1, label.size(), label);
    line.replace(kLineCharacters - 1 - value.size(), value.size(), value);
    return line;
}

std::string SetPointText(int setPoint)
{
    return TwoDigits(setPoint) + kDegreeSign + "C";
}

Frame MenuLineFrame(const DemoModel& model, int index)
{
    static const std::array<const char*, kMenuLineCount> labels{"Set point", "Contrast", "Status", "Test patterns",
                                                                "Panel info"};
    std::string value;
    if (MenuTarget(index) == Screen::SetPoint) {
        value = SetPointText(model.setPoint);
    } else if (MenuTarget(index) == Screen::Contrast) {
        value = TwoDigits(model.contrast);
    }
    const auto page = static_cast<std::uint8_t>(kFirstMenuPage + index);
    return WriteString(1, TextAttribute(page, kSmallText, index == model.menuIndex),
                       MenuLine(labels.at(static_cast<std::size_t>(index)), value), false);
}

Frame Hint(const std::string& text)
{
    return WriteString(1, TextAttribute(kHintPage, kSmallText, false), text, false);
}

void Append(std::vector<Frame>& frames, std::vector<Frame> more)
{
    frames.insert(frames.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

Frame Slider(int value, int max)
{
    const SliderThumb thumb = SliderFor(value, max);
    return DrawSliderBar(static_cast<std::uint8_t>(value), thumb.page, thumb.bytes);
}

// The set point in large digits on pages 2 to 5, clearing them first (the
// slider's part of them too, so the slider follows), then the slider.
std::vector<Frame> SetPointValue(const DemoModel& model)
{
    return {WriteString(8, TextAttribute(2, kLargeText, false), SetPointText(model.setPoint), true),
            Slider(model.setPoint, kSetPointMax)};
}

std::vector<Frame> ContrastValue(const DemoModel& model)
{
    return {SetContrast(static_cast<std::uint8_t>(model.contrast)),
            WriteString(34, TextAttribute(1, kLargestText, false), TwoDigits(model.contrast), true),
            Slider(model.contrast, kContrastMax)};
}

std::vector<Frame> StatusLoad(const DemoModel& model)
{
    std::vector<std::uint8_t> bars;
    for (int bar = 0; bar < kTrendBars; ++bar) {
        const int load = LoadAt(model.statusStep - (kTrendBars - 1) + bar);
        // Bars stand on the bottom row of the page: bit 7 is the lowest row.
        const int rows = std::max(1, (load * 8 + 50) / 100);
        const auto column = static_cast<std::uint8_t>(0xFF << (8 - rows));
        bars.insert(bars.end(), {column, column, column, 0x00});
    }
    std::string text = "Load " + TwoDigits(LoadAt(model.statusStep)) + "%";
    return {WriteString(kTrendColumn, TextAttribute(kLoadPage, kSmallText, false), text, false),
            WriteArray(kTrendColumn, kTrendPage, bars)};
}

std::vector<Frame> StatusScreen(const DemoModel& model)
{
    std::vector<Frame> frames{WriteFrameHeader("STATUS"),
                              // Two-page pictures: a dial, a bell and a magnifier, and a battery.
                              DrawIcon(2, 2, 1), DrawIcon(2, 3, 5), DrawIcon(34, 2, 10), DrawIcon(34, 3, 11),
                              DrawIcon(66, 2, 26), DrawIcon(66, 3, 27), DrawIcon(98, 2, 13)};
    constexpr std::array<std::uint8_t, 8> narrowIcons{30, 31, 32, 33, 35, 36, 40, 41};
    for (std::size_t i = 0; i < narrowIcons.size(); ++i) {
        frames.push_back(DrawIcon(static_cast<std::uint8_t>(4 + 15 * i), 4, narrowIcons[i]));
    }
    // A dotted rule across the whole of page 5.
    frames.push_back(DrawAndRepeat(0, 5, 63, {0x08, 0x00}));
    Append(frames, StatusLoad(model));
    return frames;
}

// Pages 1 to 6 of the test patterns screen, blanked first.
std::vector<Frame> PatternFrames(const DemoModel& model)
{
    std::vector<Frame> frames{BlankArea(1, 6)};
    constexpr std::uint8_t firstPage = 1;
    constexpr std::uint8_t lastPage = 6;
    switch (model.pattern) {
    case 0: // one-pixel checkerboard
        for (std::uint8_t page = firstPage; page <= lastPage; ++page) {
            frames.push_back(DrawAndRepeat(0, page, 63, {0x55, 0xAA}));
        }
        break;
    case 1: // vertical stripes two pixels wide
        for (std::uint8_t page = firstPage; page <= lastPage; ++page) {
            frames.push_back(DrawAndRepeat(0, page, 31, {0xFF, 0xFF, 0x00, 0x00}));
        }
        break;
    case 2: // diagonal lines, eight columns apart
        for (std::uint8_t page = firstPage; page <= lastPage; ++page) {
            frames.push_back(DrawAndRepeat(0, page, 15, {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80}));
        }
        break;
    default: // a border around pages 1 to 6 and the display size in its middle
        frames.push_back(DrawAndRepeat(0, firstPage, 127, {0x01}));
        frames.push_back(DrawAndRepeat(0, lastPage, 127, {0x80}));
        for (std::uint8_t page = firstPage; page <= lastPage; ++page) {
            frames.push_back(WriteArray(0, page, {0xFF}));
            frames.push_back(WriteArray(127, page, {0xFF}));
        }
        frames.push_back(WriteString(40, TextAttribute(3, 1, false), "128 x 64", false));
        break;
    }
    return frames;
}

} // namespace

std::uint8_t TextAttribute(std::uint8_t page, std::uint8_t size, bool inverse)
{
    return static_cast<std::uint8_t>(page | size << 3 | (inverse ? 0x40 : 0x00));
}

Frame WriteString(std::uint8_t column, std::uint8_t attribute, const std::string& text, bool clearFirst)
{
    std::vector<std::uint8_t> data{static_cast<std::uint8_t>(clearFirst ? column | kClearFirst : column), attribute};
    const auto characters = Bytes(text);
    data.insert(data.end(), characters.begin(), characters.end());
    return MakeFrame(kWriteString, std::move(data));
}

Frame WriteArray(std::uint8_t column, std::uint8_t page, const std::vector<std::uint8_t>& columns)
{
    std::vector<std::uint8_t> data{column, page};
    data.insert(data.end(), columns.begin(), columns.end());
    return MakeFrame(kWriteArray, std::move(data));
}

Frame SetupDisplay(std::uint8_t setupByte)
{
    return MakeFrame(kSetupDisplay, {setupByte});
}

Frame BlankArea(std::uint8_t firstPage, std::uint8_t lastPage)
{
    return MakeFrame(kBlankArea, {static_cast<std::uint8_t>(firstPage | lastPage << 3)});
}

Frame ReadSwitches()
{
    return MakeFrame(kReadSwitches, {0x00});
}

Frame SetContrast(std::uint8_t contrast)
{
    return MakeFrame(kSetContrast, {contrast});
}

Frame DrawSliderBar(std::uint8_t number, std::uint8_t page, const std::vector<std::uint8_t>& sliderBytes)
{
    std::vector<std::uint8_t> data{number, page};
    data.insert(data.end(), sliderBytes.begin(), sliderBytes.end());
    return MakeFrame(kDrawSliderBar, std::move(data));
}

Frame WriteFrameHeader(const std::string& title)
{
    return MakeFrame(kWriteFrameHeader, Bytes(title));
}

Frame DrawAndRepeat(std::uint8_t column, std::uint8_t page, std::uint8_t repeats,
                    const std::vector<std::uint8_t>& pattern)
{
    std::vector<std::uint8_t> data{column, page, repeats};
    data.insert(data.end(), pattern.begin(), pattern.end());
    return MakeFrame(kDrawAndRepeat, std::move(data));
}

Frame DrawIcon(std::uint8_t column, std::uint8_t page, std::uint8_t icon)
{
    return MakeFrame(kDrawIcon, {column, page, icon});
}

Frame SetContrastAndReplyMode(std::uint8_t contrast, std::uint16_t replyMode)
{
    Frame frame = MakeFrame(kSetContrastAndReplyMode, {contrast, static_cast<std::uint8_t>(replyMode & 0xFF),
                                                       static_cast<std::uint8_t>(replyMode >> 8)});
    frame.endsBlock = true;
    return frame;
}

std::vector<Block> PackBlocks(const std::vector<Frame>& frames)
{
    std::vector<Block> blocks;
    std::vector<FrameContent> block;
    std::size_t blockBytes = 0;
    const auto close = [&] {
        if (block.empty()) {
            return;
        }
        blocks.push_back(EncodeBlock(block));
        block.clear();
        blockBytes = 0;
    };
    for (const Frame& frame : frames) {
        const std::size_t frameBytes = frame.data.size() + kFrameOverhead;
        if (blockBytes + frameBytes > kRxBufferSize) {
            close();
        }
        block.push_back({frame.code, frame.data});
        blockBytes += frameBytes;
        if (frame.endsBlock) {
            close();
        }
    }
    close();
    return blocks;
}

std::uint16_t FunctionCodesOf(const Block& block)
{
    std::uint16_t codes = 0;
    for (std::size_t at = 0; at + 1 < block.size(); at += block[at + 1] + kFrameOverhead) {
        const unsigned code = block[at] & kFunctionCodeMask;
        if (code < 16) {
            codes |= static_cast<std::uint16_t>(1u << code);
        }
    }
    return codes;
}

SliderThumb SliderFor(int value, int max)
{
    const int top = kTrackTop + ((max - value) * kThumbTravel + max / 2) / max;
    const auto track = [](int page) -> std::uint8_t { return page == 1 ? 0xFE : page == 6 ? 0x7F : 0xFF; };
    SliderThumb thumb{static_cast<std::uint8_t>(top / 8), {}};
    for (int page = top / 8; page <= (top + kThumbRows - 1) / 8; ++page) {
        std::uint8_t mask = 0;
        for (int row = top; row < top + kThumbRows; ++row) {
            if (row / 8 == page) {
                mask |= static_cast<std::uint8_t>(1u << (row % 8));
            }
        }
        // The middle column carries the track line through the thumb's page.
        thumb.bytes.insert(thumb.bytes.end(), {mask, static_cast<std::uint8_t>(mask | track(page)), mask});
    }
    return thumb;
}

int LoadAt(int step)
{
    // A slow swell with a little unrest on top, the same at every start.
    static constexpr std::array<int, 16> swell{48, 55, 63, 70, 75, 77, 74, 68, 60, 51, 43, 36, 32, 31, 35, 41};
    const auto index = static_cast<unsigned>(step);
    return swell[index % swell.size()] + static_cast<int>(index * 7 % 11) - 5;
}

std::vector<Frame> StartFrames(const DemoModel& model, std::uint16_t replyMode)
{
    return {SetupDisplay(0x00), SetContrastAndReplyMode(static_cast<std::uint8_t>(model.contrast), replyMode)};
}

std::vector<Frame> DrawScreen(const DemoModel& model)
{
    std::vector<Frame> frames;
    switch (model.screen) {
    case Screen::Menu:
        frames.push_back(WriteFrameHeader("MAIN MENU"));
        for (int index = 0; index < kMenuLineCount; ++index) {
            frames.push_back(MenuLineFrame(model, index));
        }
        frames.push_back(Hint(Arrows() + " select    > open"));
        break;
    case Screen::SetPoint:
        frames.push_back(WriteFrameHeader("SET POINT"));
        Append(frames, SetPointValue(model));
        frames.push_back(Hint(Arrows() + " adjust    < back"));
        break;
    case Screen::Contrast:
        frames.push_back(WriteFrameHeader("CONTRAST"));
        Append(frames, ContrastValue(model));
        frames.push_back(Hint(Arrows() + " adjust    < back"));
        break;
    case Screen::Status:
        Append(frames, StatusScreen(model));
        break;
    case Screen::Patterns:
        frames.push_back(WriteFrameHeader("TEST PATTERNS"));
        Append(frames, PatternFrames(model));
        frames.push_back(Hint(Arrows() + " pattern   < back"));
        break;
    case Screen::PanelInfo:
        // The panel's own start-up screen, drawn under our header.
        frames.push_back(WriteFrameHeader("PANEL INFO"));
        frames.push_back(SetupDisplay(0x80));
        break;
    }
    return frames;
}

std::vector<Frame> DrawChange(const DemoModel& from, const DemoModel& to, std::uint16_t replyMode)
{
    if (from.screen != to.screen) {
        std::vector<Frame> frames;
        if (from.screen == Screen::Contrast) {
            // Leaving the contrast screen keeps the new contrast, in the
            // command that also restates the reply mode.
            frames.push_back(SetContrastAndReplyMode(static_cast<std::uint8_t>(to.contrast), replyMode));
        }
        Append(frames, DrawScreen(to));
        return frames;
    }
    switch (to.screen) {
    case Screen::Menu:
        if (from.menuIndex != to.menuIndex) {
            return {MenuLineFrame(to, from.menuIndex), MenuLineFrame(to, to.menuIndex)};
        }
        break;
    case Screen::SetPoint:
        if (from.setPoint != to.setPoint) {
            return SetPointValue(to);
        }
        break;
    case Screen::Contrast:
        if (from.contrast != to.contrast) {
            return ContrastValue(to);
        }
        break;
    case Screen::Status:
        if (from.statusStep != to.statusStep) {
            return StatusLoad(to);
        }
        break;
    case Screen::Patterns:
        if (from.pattern != to.pattern) {
            return PatternFrames(to);
        }
        break;
    case Screen::PanelInfo:
        break;
    }
    return {};
}

} // namespace quillon::demo
