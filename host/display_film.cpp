#include "host/display_film.h"

#include <algorithm>
#include <vector>

#include "host/picture.h"

namespace quillon {

namespace {

// Two colours take the smallest table, and the smallest code size the
// format allows.
constexpr int kMinCodeSize = 2;
constexpr int kClearCode = 1 << kMinCodeSize;
constexpr int kEndCode = kClearCode + 1;
constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeSize = 12;
constexpr int kSymbols = 1 << kMinCodeSize;
constexpr std::uint32_t kLongestDelayCs = 0xFFFF;

void PutWord(std::string& out, std::uint32_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

// Codes packed from the lowest bit up, as GIF reads them.
class CodeWriter {
public:
    explicit CodeWriter(std::string& out) : out_(out) {}
    void Put(int code, int size)
    {
        bits_ |= static_cast<std::uint32_t>(code) << count_;
        count_ += size;
        while (count_ >= 8) {
            out_ += static_cast<char>(bits_ & 0xFF);
            bits_ >>= 8;
            count_ -= 8;
        }
    }
    void Flush()
    {
        if (count_ > 0) {
            out_ += static_cast<char>(bits_ & 0xFF);
        }
        bits_ = 0;
        count_ = 0;
    }

private:
    std::string& out_;
    std::uint32_t bits_ = 0;
    int count_ = 0;
};

// Data as GIF carries it: blocks of at most 255 bytes, each after its
// length, and an empty one at the end.
void PutBlocks(std::string& out, const std::string& data)
{
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t length = std::min<std::size_t>(255, data.size() - at);
        out += static_cast<char>(length);
        out.append(data, at, length);
    }
    out += '\0';
}

DisplayRect Difference(const std::array<DisplayMemory::Page, kDisplayPages>& before,
                       const std::array<DisplayMemory::Page, kDisplayPages>& after)
{
    DisplayRect area;
    for (int page = 0; page < kDisplayPages; ++page) {
        for (int column = 0; column < kDisplayColumns; ++column) {
            const auto changed = static_cast<std::uint8_t>(before[page][column] ^ after[page][column]);
            if (changed == 0) {
                continue;
            }
            int top = 0;
            while (((changed >> top) & 1) == 0) {
                ++top;
            }
            int bottom = kRowsPerPage;
            while (((changed >> (bottom - 1)) & 1) == 0) {
                --bottom;
            }
            area = area.United({column, page * kRowsPerPage + top, column + 1, page * kRowsPerPage + bottom});
        }
    }
    return area;
}

} // namespace

// The table is started again when it is full.
std::string GifLzw(std::span<const std::uint8_t> indices)
{
    std::string codes;
    CodeWriter writer(codes);
    // The code of a string followed by one more index, or 0: no code below
    // the first free one is ever a string's.
    std::vector<std::uint16_t> extended(static_cast<std::size_t>(kMaxCodes * kSymbols), 0);
    int size = kMinCodeSize + 1;
    int nextCode = kEndCode + 1;
    writer.Put(kClearCode, size);
    int prefix = indices.front();
    // The reader makes its entries one code behind the writer: it widens
    // its codes once it has as many entries as the width holds.
    const auto added = [&] {
        ++nextCode;
        if (nextCode > (1 << size) && size < kMaxCodeSize) {
            ++size;
        }
    };
    for (const std::uint8_t index : indices.subspan(1)) {
        std::uint16_t& next = extended[static_cast<std::size_t>(prefix * kSymbols + index)];
        if (next != 0) {
            prefix = next;
            continue;
        }
        writer.Put(prefix, size);
        if (nextCode < kMaxCodes) {
            next = static_cast<std::uint16_t>(nextCode);
            added();
        } else {
            writer.Put(kClearCode, size);
            std::fill(extended.begin(), extended.end(), 0);
            size = kMinCodeSize + 1;
            nextCode = kEndCode + 1;
        }
        prefix = index;
    }
    writer.Put(prefix, size);
    // The reader makes an entry for the last code too, which may widen the
    // end code.
    if (nextCode < kMaxCodes) {
        added();
    }
    writer.Put(kEndCode, size);
    writer.Flush();
    return codes;
}

DisplayFilm::Pages DisplayFilm::Current() const
{
    Pages pages;
    for (int page = 0; page < kDisplayPages; ++page) {
        pages[page] = memory_.PageBytes(page);
    }
    return pages;
}

bool DisplayFilm::Open(const std::string& path, std::uint64_t startUs, std::string& error)
{
    std::string header = "GIF89a";
    PutWord(header, kDisplayWidth * kScale);
    PutWord(header, kDisplayHeight * kScale);
    // A global table of 2 colours (8 bits each), background the first.
    header += static_cast<char>(0xF0);
    header += '\0';
    header += '\0';
    for (const Rgb& colour : {kBackground, kInk}) {
        header += static_cast<char>(colour.red);
        header += static_cast<char>(colour.green);
        header += static_cast<char>(colour.blue);
    }
    // Played over and over.
    header += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    out_.open(path, std::ios::binary | std::ios::trunc);
    out_ << header;
    if (!out_) {
        error = "cannot write " + path;
        return false;
    }
    startUs_ = startUs;
    lastUs_ = startUs;
    shownUs_ = startUs;
    shown_ = Current();
    seenChange_ = memory_.changeCount();
    return true;
}

void DisplayFilm::Look(std::uint64_t nowUs)
{
    if (!out_.is_open() || memory_.changeCount() == seenChange_) {
        return;
    }
    seenChange_ = memory_.changeCount();
    // Events stamped on the reader's thread may carry a time a little before
    // the last one looked at.
    lastUs_ = std::max(lastUs_, nowUs);
    const Pages now = Current();
    if (lastUs_ - shownUs_ < kShortestFrameUs) {
        shown_ = now;
        return;
    }
    if (now == shown_) {
        return;
    }
    WriteFrame(shown_, lastUs_);
    shown_ = now;
    shownUs_ = lastUs_;
}

bool DisplayFilm::Finish(std::uint64_t endUs)
{
    if (!out_.is_open()) {
        return true;
    }
    Look(endUs);
    WriteFrame(shown_, std::max(lastUs_, endUs));
    out_ << '\x3B';
    out_.close();
    return static_cast<bool>(out_);
}

void DisplayFilm::Follow(PanelHost& host, Clock& clock)
{
    host.AddListener([this](const LinkEvent& event) { Look(event.timeUs); });
    host.AddTurnHook([this, &clock] { Look(clock.NowMicros()); });
}

void DisplayFilm::WriteFrame(const Pages& picture, std::uint64_t endUs)
{
    const std::uint64_t endCs = (endUs - startUs_ + 5'000) / 10'000;
    std::uint64_t delayCs = endCs - writtenCs_;
    writtenCs_ = endCs;
    DisplayRect area = written_ ? Difference(*written_, picture) : DisplayRect{0, 0, kDisplayWidth, kDisplayHeight};
    // A frame that changes nothing still holds its time: one pixel as it is.
    if (area.empty()) {
        area = {0, 0, 1, 1};
    }
    // A frame shows for at most 655 s; a display kept longer takes more.
    while (delayCs > kLongestDelayCs) {
        WriteImage(picture, area, kLongestDelayCs);
        delayCs -= kLongestDelayCs;
        area = {0, 0, 1, 1};
    }
    WriteImage(picture, area, static_cast<std::uint32_t>(delayCs));
    written_ = picture;
}

void DisplayFilm::WriteImage(const Pages& picture, const DisplayRect& area, std::uint32_t delayCs)
{
    std::string frame;
    // Graphic control: each frame is left in place for the next to draw on.
    frame += std::string("\x21\xF9\x04\x04", 4);
    PutWord(frame, delayCs);
    frame += std::string("\x00\x00", 2);
    frame += '\x2C';
    PutWord(frame, static_cast<std::uint32_t>(area.left * kScale));
    PutWord(frame, static_cast<std::uint32_t>(area.top * kScale));
    PutWord(frame, static_cast<std::uint32_t>(area.width() * kScale));
    PutWord(frame, static_cast<std::uint32_t>(area.height() * kScale));
    frame += '\0';
    std::vector<std::uint8_t> indices;
    indices.reserve(static_cast<std::size_t>(area.width() * area.height() * kScale * kScale));
    for (int y = area.top * kScale; y < area.bottom * kScale; ++y) {
        const int row = y / kScale;
        for (int x = area.left * kScale; x < area.right * kScale; ++x) {
            const int column = x / kScale;
            indices.push_back((picture[row / kRowsPerPage][column] >> (row % kRowsPerPage)) & 1);
        }
    }
    frame += static_cast<char>(kMinCodeSize);
    PutBlocks(frame, GifLzw(indices));
    out_ << frame;
}

} // namespace quillon
