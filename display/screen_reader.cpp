#include "display/screen_reader.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "display/display_controller.h"
#include "display/glyph_tables.h"
#include "display/text_sizes.h"

namespace quillon {

namespace {

constexpr std::uint8_t kFirstCode = 1;
constexpr std::uint8_t kLastCode = 126;
constexpr std::uint8_t kSpace = 32;
constexpr int kCellColumns = static_cast<int>(kGlyphWidth) + 1;

// The glyphs of one text size, keyed by the column bytes a cell of them
// shows: glyph column by glyph column, band page by band page.
struct SizeGlyphs {
    std::uint8_t size = 0;
    int scale = 0;
    int bandPages = 0;
    std::unordered_map<std::string, std::uint8_t> codes;
};

struct Glyphs {
    std::vector<SizeGlyphs> sizes;
    // The lowest code drawn with the same pixels as each code.
    std::array<std::uint8_t, 256> canonical{};
};

std::string CellKey(std::uint8_t size, int bandPages, std::uint8_t code)
{
    std::string key(kGlyphWidth * static_cast<std::size_t>(bandPages), '\0');
    const std::size_t first = (code - kFirstCode) * kGlyphWidth;
    for (std::size_t column = 0; column < kGlyphWidth; ++column) {
        for (int band = 0; band < bandPages; ++band) {
            key[column * static_cast<std::size_t>(bandPages) + static_cast<std::size_t>(band)] = static_cast<char>(
                DisplayController::StretchGlyphColumn(size, static_cast<std::uint8_t>(band), Font5x7[first + column]));
        }
    }
    return key;
}

const Glyphs& GlyphsOfEverySize()
{
    static const Glyphs glyphs = [] {
        Glyphs made;
        for (std::uint8_t size = 0; size < kTextSizes.size(); ++size) {
            if (kTextSizes[size].bandPages == 0) {
                continue;
            }
            SizeGlyphs table{size, kTextSizes[size].scaleX, kTextSizes[size].bandPages, {}};
            for (int code = kFirstCode; code <= kLastCode; ++code) {
                // emplace keeps the first, lowest, code of a shared picture.
                table.codes.emplace(CellKey(size, table.bandPages, static_cast<std::uint8_t>(code)),
                                    static_cast<std::uint8_t>(code));
            }
            made.sizes.push_back(std::move(table));
        }
        for (int code = 0; code < 256; ++code) {
            made.canonical[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(code);
        }
        for (int code = kFirstCode; code <= kLastCode; ++code) {
            made.canonical[static_cast<std::size_t>(code)] =
                made.sizes.front().codes.at(CellKey(0, 1, static_cast<std::uint8_t>(code)));
        }
        return made;
    }();
    return glyphs;
}

struct Cell {
    std::uint8_t code = 0;
    bool inverse = false;

    bool blank() const { return code == kSpace && !inverse; }
    bool strong() const { return code != kSpace; }
};

// The character whose cell starts at this column with its band's top on this
// page, if every pixel of the cell is that character's. A band that runs off
// the bottom continues at the top, as the controller draws it; spacing
// columns past the right edge are cut off, glyph columns must all be there.
std::optional<Cell> ReadCell(const DisplayMemory& memory, const SizeGlyphs& glyphs, int page, int column)
{
    const int scale = glyphs.scale;
    if (column + static_cast<int>(kGlyphWidth) * scale > kDisplayColumns) {
        return std::nullopt;
    }
    const auto byteAt = [&](int band, int at) { return memory.Column((page + band) % kDisplayPages, at); };

    std::optional<std::uint8_t> background;
    const int spacingEnd = std::min(column + kCellColumns * scale, static_cast<int>(kDisplayColumns));
    for (int at = column + static_cast<int>(kGlyphWidth) * scale; at < spacingEnd; ++at) {
        for (int band = 0; band < glyphs.bandPages; ++band) {
            const std::uint8_t value = byteAt(band, at);
            if ((value != 0x00 && value != 0xFF) || (background && value != *background)) {
                return std::nullopt;
            }
            background = value;
        }
    }

    std::string key(kGlyphWidth * static_cast<std::size_t>(glyphs.bandPages), '\0');
    for (int glyphColumn = 0; glyphColumn < static_cast<int>(kGlyphWidth); ++glyphColumn) {
        const int first = column + glyphColumn * scale;
        for (int band = 0; band < glyphs.bandPages; ++band) {
            const std::uint8_t value = byteAt(band, first);
            for (int repeat = 1; repeat < scale; ++repeat) {
                if (byteAt(band, first + repeat) != value) {
                    return std::nullopt;
                }
            }
            key[static_cast<std::size_t>(glyphColumn * glyphs.bandPages + band)] = static_cast<char>(value);
        }
    }

    for (const std::uint8_t candidate : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        if (background && *background != candidate) {
            continue;
        }
        std::string normal = key;
        for (char& byte : normal) {
            byte = static_cast<char>(static_cast<std::uint8_t>(byte) ^ candidate);
        }
        const auto found = glyphs.codes.find(normal);
        if (found != glyphs.codes.end()) {
            return Cell{found->second, candidate == 0xFF};
        }
    }
    return std::nullopt;
}

// A run of cells one cell width apart, in one size and on one band.
struct Chain {
    const SizeGlyphs* glyphs = nullptr;
    int page = 0;
    int column = 0;
    std::vector<Cell> cells;

    int cellWidth() const { return kCellColumns * glyphs->scale; }
    int area() const
    {
        const auto strong = std::count_if(cells.begin(), cells.end(), [](const Cell& cell) { return cell.strong(); });
        return static_cast<int>(strong) * cellWidth() * glyphs->bandPages;
    }
};

// The chain without the blank cells at its ends; empty when no character of
// it shows more than a space.
std::optional<Chain> Trimmed(Chain chain)
{
    const auto first = std::find_if(chain.cells.begin(), chain.cells.end(), [](const Cell& c) { return !c.blank(); });
    const auto last = std::find_if(chain.cells.rbegin(), chain.cells.rend(), [](const Cell& c) { return !c.blank(); });
    if (std::none_of(chain.cells.begin(), chain.cells.end(), [](const Cell& c) { return c.strong(); })) {
        return std::nullopt;
    }
    chain.column += static_cast<int>(first - chain.cells.begin()) * chain.cellWidth();
    chain.cells = std::vector<Cell>(first, last.base());
    return chain;
}

std::vector<Chain> FindChains(const DisplayMemory& memory, const SizeGlyphs& glyphs)
{
    std::vector<Chain> chains;
    const int width = kCellColumns * glyphs.scale;
    for (int page = 0; page < kDisplayPages; ++page) {
        std::array<std::optional<Cell>, kDisplayColumns> cells{};
        for (int column = 0; column < kDisplayColumns; ++column) {
            cells[static_cast<std::size_t>(column)] = ReadCell(memory, glyphs, page, column);
        }
        for (int start = 0; start < kDisplayColumns; ++start) {
            if (!cells[static_cast<std::size_t>(start)] ||
                (start >= width && cells[static_cast<std::size_t>(start - width)])) {
                continue;
            }
            Chain chain{&glyphs, page, start, {}};
            for (int at = start; at < kDisplayColumns && cells[static_cast<std::size_t>(at)]; at += width) {
                chain.cells.push_back(*cells[static_cast<std::size_t>(at)]);
            }
            if (auto trimmed = Trimmed(std::move(chain))) {
                chains.push_back(std::move(*trimmed));
            }
        }
    }
    return chains;
}

// The display area each accepted cell covers, so that a weaker reading of the
// same pixels (another size, or a cell shifted by a column) is dropped.
class Occupancy {
public:
    bool Free(const Chain& chain, std::size_t index) const { return Visit(chain, index, false); }
    void Take(const Chain& chain, std::size_t index) { Visit(chain, index, true); }

private:
    bool Visit(const Chain& chain, std::size_t index, bool take) const
    {
        const int left = chain.column + static_cast<int>(index) * chain.cellWidth();
        const int right = std::min(left + chain.cellWidth(), static_cast<int>(kDisplayColumns));
        bool free = true;
        for (int band = 0; band < chain.glyphs->bandPages; ++band) {
            auto& row = taken_[static_cast<std::size_t>((chain.page + band) % kDisplayPages)];
            for (int column = left; column < right; ++column) {
                free = free && !row[static_cast<std::size_t>(column)];
                if (take) {
                    row[static_cast<std::size_t>(column)] = true;
                }
            }
        }
        return free;
    }

    mutable std::array<std::array<bool, kDisplayColumns>, kDisplayPages> taken_{};
};

TextRun ToRun(const Chain& chain)
{
    TextRun run{chain.page, chain.column, chain.glyphs->size, {}, {}};
    for (const Cell& cell : chain.cells) {
        run.text.push_back(static_cast<char>(cell.code));
        run.inverse.push_back(cell.inverse);
    }
    return run;
}

// UTF-8 of codes 1 to 31.
constexpr std::array<std::string_view, 31> kSymbols{
    "\u00F3", "\u00ED", "\u00FA", "\u00E1", "\u00E5", "\u2191", "\u2193", "\u2261", "\u2026", "\u00C6", "\u00B0",
    "\u00C4", "\u00D6", "\u00DC", "\u00E4", "\u00F6", "\u00FC", "\u00E9", "\u00E8", "\u00EA", "\u00E7", "\u03A9",
    "\u03A3", "\u00B5", "\u00B2", "\u00B3", "\u00E6", "\u00DF", "\u00D1", "\u00F1", "\u00F8",
};

} // namespace

bool TextRun::AllInverse() const
{
    return std::all_of(inverse.begin(), inverse.end(), [](bool flag) { return flag; });
}

std::vector<TextRun> ReadScreenText(const DisplayMemory& memory)
{
    std::vector<Chain> chains;
    for (const SizeGlyphs& glyphs : GlyphsOfEverySize().sizes) {
        auto found = FindChains(memory, glyphs);
        chains.insert(chains.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    // The reading that explains the most pixels wins where readings overlap.
    std::stable_sort(chains.begin(), chains.end(), [](const Chain& a, const Chain& b) { return a.area() > b.area(); });

    Occupancy occupancy;
    std::vector<TextRun> runs;
    for (const Chain& chain : chains) {
        Chain piece{chain.glyphs, chain.page, chain.column, {}};
        const auto finish = [&] {
            if (auto trimmed = Trimmed(std::move(piece))) {
                for (std::size_t i = 0; i < trimmed->cells.size(); ++i) {
                    occupancy.Take(*trimmed, i);
                }
                runs.push_back(ToRun(*trimmed));
            }
        };
        for (std::size_t i = 0; i < chain.cells.size(); ++i) {
            if (occupancy.Free(chain, i)) {
                if (piece.cells.empty()) {
                    piece = Chain{chain.glyphs, chain.page, chain.column + static_cast<int>(i) * chain.cellWidth(), {}};
                }
                piece.cells.push_back(chain.cells[i]);
            } else {
                finish();
                piece.cells.clear();
            }
        }
        finish();
    }
    std::sort(runs.begin(), runs.end(), [](const TextRun& a, const TextRun& b) {
        return a.page != b.page ? a.page < b.page : a.column < b.column;
    });
    return runs;
}

std::optional<TextMatch> FindText(const std::vector<TextRun>& runs, std::string_view panelText, bool inverseOnly)
{
    if (panelText.empty()) {
        return std::nullopt;
    }
    const auto& canonical = GlyphsOfEverySize().canonical;
    std::string wanted(panelText);
    for (char& character : wanted) {
        character = static_cast<char>(canonical[static_cast<std::uint8_t>(character)]);
    }
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const TextRun& run = runs[index];
        for (auto at = run.text.find(wanted); at != std::string::npos; at = run.text.find(wanted, at + 1)) {
            const auto first = run.inverse.begin() + static_cast<std::ptrdiff_t>(at);
            if (!inverseOnly || std::all_of(first, first + static_cast<std::ptrdiff_t>(wanted.size()),
                                            [](bool flag) { return flag; })) {
                return TextMatch{index, at};
            }
        }
    }
    return std::nullopt;
}

std::string PanelTextToUtf8(std::string_view panelText)
{
    std::string utf8;
    for (const char character : panelText) {
        const auto code = static_cast<std::uint8_t>(character);
        if (code >= kFirstCode && code < kSpace) {
            utf8 += kSymbols[code - kFirstCode];
        } else if (code >= kSpace && code <= kLastCode) {
            utf8 += character;
        } else {
            utf8 += '?';
        }
    }
    return utf8;
}

std::optional<std::string> Utf8ToPanelText(std::string_view utf8)
{
    std::string panel;
    while (!utf8.empty()) {
        const auto lead = static_cast<std::uint8_t>(utf8.front());
        if (lead >= kSpace && lead <= kLastCode) {
            panel += utf8.front();
            utf8.remove_prefix(1);
            continue;
        }
        const auto symbol = std::find_if(kSymbols.begin(), kSymbols.end(),
                                         [&](std::string_view candidate) { return utf8.starts_with(candidate); });
        if (symbol == kSymbols.end()) {
            return std::nullopt;
        }
        panel += static_cast<char>(kFirstCode + (symbol - kSymbols.begin()));
        utf8.remove_prefix(symbol->size());
    }
    return panel;
}

} // namespace quillon
