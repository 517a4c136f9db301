#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quillon {

// The display is 128 columns by 8 pages of 8 pixel rows; one column byte
// covers one column of one page, bit 0 the top row, a set bit a dark pixel.
inline constexpr std::uint8_t kDisplayColumns = 128;
inline constexpr std::uint8_t kDisplayPages = 8;
inline constexpr std::uint8_t kRowsPerPage = 8;
inline constexpr int kDisplayWidth = kDisplayColumns;
inline constexpr int kDisplayHeight = kDisplayPages * kRowsPerPage;

// A rectangle of display pixels, right and bottom exclusive. Empty when it
// has no width or no height.
struct DisplayRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    // The smallest rectangle holding both; an empty one adds nothing.
    DisplayRect United(const DisplayRect& other) const;
    bool operator==(const DisplayRect&) const = default;
};

// The panel controller's display memory: 8 pages of 128 column bytes, written
// only by column runs. It remembers what changed since a front end last
// looked, so a painter can copy just that part.
class DisplayMemory {
public:
    using Page = std::array<std::uint8_t, kDisplayColumns>;

    // Writes bytes into one page from column on. The run must fit: the
    // controller corrects every address before it writes.
    void WriteRun(std::uint8_t page, std::uint8_t column, std::span<const std::uint8_t> bytes);

    std::uint8_t Column(int page, int column) const { return pages_[page][column]; }
    const Page& PageBytes(int page) const { return pages_[page]; }
    bool Pixel(int x, int y) const { return ((pages_[y / kRowsPerPage][x] >> (y % kRowsPerPage)) & 1) != 0; }

    // Who writes the runs from now on: a frame's number, or 0 for the
    // panel's own screens.
    void SetWriter(std::uint32_t writer) { writer_ = writer; }
    // The writer of the last run that covered this column byte.
    std::uint32_t Writer(int page, int column) const { return writers_[page][column]; }

    // Runs written since the memory was made; a front end compares it with
    // the count it last saw.
    std::uint64_t changeCount() const { return changeCount_; }
    // Where runs went since the memory was made.
    const DisplayRect& changes() const { return changes_; }

private:
    std::array<Page, kDisplayPages> pages_{};
    std::array<std::array<std::uint32_t, kDisplayColumns>, kDisplayPages> writers_{};
    std::uint32_t writer_ = 0;
    std::uint64_t changeCount_ = 0;
    DisplayRect changes_;
};

} // namespace quillon
