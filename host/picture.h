#pragma once

#include <optional>
#include <string>
#include <vector>

#include "display/display_memory.h"
#include "host/png.h"

namespace quillon {

// The display as a monochrome picture: a set pixel is ink.
class Bitmap {
public:
    Bitmap() : ink_(static_cast<std::size_t>(kDisplayWidth * kDisplayHeight), false) {}
    explicit Bitmap(const DisplayMemory& memory);

    bool At(int x, int y) const { return ink_[Index(x, y)]; }
    void Set(int x, int y, bool ink) { ink_[Index(x, y)] = ink; }
    bool operator==(const Bitmap&) const = default;

private:
    static std::size_t Index(int x, int y) { return static_cast<std::size_t>(y * kDisplayWidth + x); }
    std::vector<bool> ink_;
};

// A part of the display, in pixels.
struct Region {
    int x = 0;
    int y = 0;
    int width = kDisplayWidth;
    int height = kDisplayHeight;
};

// The colours a front end paints the display in.
inline constexpr Rgb kBackground{188, 225, 101};
inline constexpr Rgb kInk{0, 0, 0};

// Golden pictures are the whole display: a 128 x 64 PNG (a pixel darker than
// mid-grey, and not transparent, is ink) or, for a name ending in .txt, text
// art of 64 lines of 128 characters, '#' for ink and '.' for background.
// Nothing, with the reason, for a file that cannot be read or has the wrong
// size or characters.
std::optional<Bitmap> LoadGolden(const std::string& path, std::string& error);
bool SaveGolden(const std::string& path, const Bitmap& picture, std::string& error);
// Whether a name has one of the two golden extensions.
bool IsGoldenName(const std::string& path);
std::string ToTextArt(const Bitmap& picture);

// The display in its own colours, each pixel scale x scale.
IndexedImage Screenshot(const Bitmap& picture, int scale);
// Writes a file, making its folder first when it is missing.
bool WriteFile(const std::string& path, const std::string& bytes, std::string& error);

struct Comparison {
    int differing = 0;
    // The display at 4:1, red where the golden has ink and the display not,
    // blue where the display has ink and the golden not.
    IndexedImage diff;
};
Comparison Compare(const Bitmap& actual, const Bitmap& golden, const Region& region);

} // namespace quillon
