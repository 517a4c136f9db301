#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "display/display_memory.h"

namespace quillon {

// Told after every column run, so a window can repaint at once and show the
// picture exactly as the panel's own display would at that moment.
class RunListener {
public:
    virtual ~RunListener() = default;
    virtual void RunWritten(const DisplayRect& area) = 0;
};

// What carrying out one frame did.
struct CommandResult {
    // Status error bits the command raised (0 or kStatusFrameError).
    std::uint8_t errors = 0;
    // SET CONTRAST AND REPLY MODE chose a reply mode for the link.
    std::optional<std::uint16_t> replyMode;
    // The display area the command's runs covered; empty if it wrote none.
    DisplayRect changed;
};

// The emulated display controller: frame validation, command dispatch, the
// display commands, text rendering and the start-up screen, and the display
// memory they write. It knows nothing of the link: the supervisor hands it a
// frame's bytes and puts the errors it returns into the status byte.
//
// A frame is given as the bytes from its code byte on; a byte past the end of
// the span reads as 0, as an index past the receive buffer does.
class DisplayController {
public:
    void SetRunListener(RunListener* listener) { listener_ = listener; }
    const DisplayMemory& memory() const { return memory_; }
    // The contrast the device last set; the emulated display shows none.
    std::uint8_t contrast() const { return contrast_; }

    // Checks the checksum and the length rule of the frame's function code;
    // returns the status error bits found (0 when the frame may run).
    static std::uint8_t ValidateFrame(std::span<const std::uint8_t> frame);
    // Carries out a validated frame; the display memory records frameNumber
    // as the writer of what it draws.
    CommandResult ExecuteFrame(std::span<const std::uint8_t> frame, std::uint32_t frameNumber = 0);

    // Draws a program text: attribute as in WRITE STRING, the whole display
    // cleared first if asked. A text of 23 characters or more is replaced by
    // a short notice. Returns the status error bits raised.
    std::uint8_t PutString(std::string_view text, std::uint8_t attribute, std::uint8_t column, bool clearFirst);
    // The logo, the panel's version label and "Connecting...".
    std::uint8_t ShowStartupScreen();

    // The column byte that band page `bandPage` of a text in size code
    // `size` shows for one glyph column; 0 for a size that draws nothing.
    static std::uint8_t StretchGlyphColumn(std::uint8_t size, std::uint8_t bandPage, std::uint8_t glyphByte);

private:
    // Where a run really went after its address was corrected.
    struct Placement {
        std::uint8_t page;
        std::uint8_t column;
    };

    Placement WriteColumnRun(std::uint8_t page, std::uint8_t column, std::span<const std::uint8_t> bytes);
    void ClearPages(std::uint8_t pageRange);
    void DrawText(std::span<const std::uint8_t> text, std::uint8_t attribute, std::uint8_t column, std::uint8_t page);
    // A text of the program's own, cut at the first NUL.
    void DrawProgramText(std::string_view text, std::uint8_t attribute, std::uint8_t column);
    void RenderText(std::span<const std::uint8_t> text, std::uint8_t attribute, std::uint8_t column, std::uint8_t page);

    void WriteString(std::span<const std::uint8_t> data);
    void WriteArray(std::span<const std::uint8_t> data);
    void DrawSliderBar(std::span<const std::uint8_t> data);
    void WriteFrameHeader(std::span<const std::uint8_t> data);
    void DrawAndRepeat(std::span<const std::uint8_t> data);
    void DrawIcon(std::span<const std::uint8_t> data);
    void DrawStartupScreen();

    // Errors and area of the operation in progress, reset by each public
    // operation and handed back when it ends.
    void BeginOperation();
    std::uint8_t errors_ = 0;
    DisplayRect changed_;

    DisplayMemory memory_;
    RunListener* listener_ = nullptr;
    std::uint8_t contrast_ = 0;
};

} // namespace quillon
