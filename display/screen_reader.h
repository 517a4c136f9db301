#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display/display_memory.h"

namespace quillon {

// A line of text found on the display.
struct TextRun {
    // Top page of the text band and the first column of its first cell.
    int page = 0;
    int column = 0;
    // The text size code it was drawn in (0, 1, 3, 4 or 5).
    std::uint8_t size = 0;
    // Character codes of the panel's own set, 1 to 126.
    std::string text;
    // One flag per character: drawn inverse.
    std::vector<bool> inverse;

    bool AllInverse() const;
};

// Reads the text on the display by exact comparison with the panel's font in
// every text size, normal and inverse: a cell is read only when every one of
// its pixels is the glyph's, its spacing columns included, so nothing is
// guessed. A blank cell cannot be told from the background, so a normal space
// is read only between characters; an inverse space is read beside them too.
// Characters whose glyphs are the same pixels read as the lowest code that
// draws them. Runs come top page first, then left to right.
std::vector<TextRun> ReadScreenText(const DisplayMemory& memory);

// Where a text was found: the run and the offset of its first character.
struct TextMatch {
    std::size_t run = 0;
    std::size_t offset = 0;
};

// Finds a text of the panel's character set in the runs, comparing glyphs
// rather than codes (so a character reads the same as another with the same
// pixels); with inverseOnly every matched character must be inverse.
std::optional<TextMatch> FindText(const std::vector<TextRun>& runs, std::string_view panelText,
                                  bool inverseOnly = false);

// The panel's character set and UTF-8: codes 32 to 126 are ASCII, 1 to 31 the
// panel's accented letters and symbols (6 and 7 are arrows, 11 the degree
// sign).
std::string PanelTextToUtf8(std::string_view panelText);
// Nothing when a character has no place in the panel's set.
std::optional<std::string> Utf8ToPanelText(std::string_view utf8);

} // namespace quillon
