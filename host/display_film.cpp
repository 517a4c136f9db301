#include "host/display_film.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <gif_lib.h>

#include "host/picture.h"

namespace quillon {

namespace {

constexpr std::uint32_t kLongestDelayCs = 0xFFFF;
// Eight bits a colour in the global table.
constexpr int kColourResolution = 8;

// giflib's output, into the film's file: a short write fails giflib's call.
int WriteOut(GifFileType* gif, const GifByteType* bytes, int length)
{
    auto* file = static_cast<std::FILE*>(gif->UserData);
    return static_cast<int>(std::fwrite(bytes, 1, static_cast<std::size_t>(length), file));
}

// The screen: twice the display, a global table of its two colours,
// background first, played over and over.
bool PutHeader(GifFileType* gif)
{
    std::array<GifColorType, 2> colours{};
    const std::array<Rgb, 2> panel{kBackground, kInk};
    for (std::size_t i = 0; i < colours.size(); ++i) {
        colours[i] = {panel[i].red, panel[i].green, panel[i].blue};
    }
    ColorMapObject* table = GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
    if (table == nullptr) {
        return false;
    }
    EGifSetGifVersion(gif, true);
    const bool put = EGifPutScreenDesc(gif, kDisplayWidth * DisplayFilm::kScale, kDisplayHeight * DisplayFilm::kScale,
                                       kColourResolution, 0, table) == GIF_OK;
    GifFreeMapObject(table);
    static constexpr char kLoopApplication[] = "NETSCAPE2.0";
    // Sub-block 1: loop count 0, for ever.
    const std::array<GifByteType, 3> loops{1, 0, 0};
    return put && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(gif, sizeof kLoopApplication - 1, kLoopApplication) == GIF_OK &&
           EGifPutExtensionBlock(gif, static_cast<int>(loops.size()), loops.data()) == GIF_OK &&
           EGifPutExtensionTrailer(gif) == GIF_OK;
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

DisplayFilm::Pages DisplayFilm::Current() const
{
    Pages pages;
    for (int page = 0; page < kDisplayPages; ++page) {
        pages[page] = memory_.PageBytes(page);
    }
    return pages;
}

DisplayFilm::~DisplayFilm()
{
    Close();
}

bool DisplayFilm::Open(const std::string& path, std::uint64_t startUs, std::string& error)
{
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    int gifError = 0;
    gif_ = EGifOpen(file_, WriteOut, &gifError);
    if (gif_ == nullptr || !PutHeader(gif_)) {
        const char* reason = GifErrorString(gif_ == nullptr ? gifError : gif_->Error);
        Close();
        error = "cannot write " + path + ": " + (reason != nullptr ? reason : "giflib failed");
        return false;
    }
    // The screen's description reaches the disk now, so a full one is told
    // at the start.
    if (std::fflush(file_) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        Close();
        return false;
    }
    failed_ = false;
    startUs_ = startUs;
    lastUs_ = startUs;
    shownUs_ = startUs;
    shown_ = Current();
    written_.reset();
    ended_.clear();
    writtenCs_ = 0;
    seenChange_ = memory_.changeCount();
    writer_ = std::jthread([this](std::stop_token stop) { WriteEnded(std::move(stop)); });
    return true;
}

void DisplayFilm::Look(std::uint64_t nowUs)
{
    // After a failed write the file is lost; Finish tells so.
    if (gif_ == nullptr || failed_ || memory_.changeCount() == seenChange_) {
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
    {
        const std::lock_guard lock(mutex_);
        ended_.emplace_back(shown_, lastUs_);
    }
    frameEnded_.notify_one();
    shown_ = now;
    shownUs_ = lastUs_;
}

void DisplayFilm::WriteEnded(std::stop_token stop)
{
    std::vector<std::pair<Pages, std::uint64_t>> frames;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            frameEnded_.wait(lock, stop, [this] { return !ended_.empty(); });
            frames.swap(ended_);
        }
        if (frames.empty()) {
            return;
        }
        for (const auto& [picture, endUs] : frames) {
            if (!failed_) {
                WriteFrame(picture, endUs);
            }
        }
        frames.clear();
    }
}

void DisplayFilm::StopWriter()
{
    if (writer_.joinable()) {
        writer_.request_stop();
        writer_.join();
    }
}

bool DisplayFilm::Finish(std::uint64_t endUs)
{
    if (host_ != nullptr) {
        host_->RemoveListener(listener_);
        host_->RemoveTurnHook(turnHook_);
        host_ = nullptr;
    }
    if (gif_ == nullptr) {
        return true;
    }
    Look(endUs);
    StopWriter();
    if (!failed_) {
        WriteFrame(shown_, std::max(lastUs_, endUs));
    }
    return Close();
}

bool DisplayFilm::Close()
{
    StopWriter();
    if (gif_ != nullptr) {
        int gifError = 0;
        // Writes the trailer.
        if (EGifCloseFile(gif_, &gifError) != GIF_OK) {
            failed_ = true;
        }
        gif_ = nullptr;
    }
    if (file_ != nullptr) {
        const bool unwritten = std::ferror(file_) != 0;
        if (std::fclose(file_) != 0 || unwritten) {
            failed_ = true;
        }
        file_ = nullptr;
    }
    return !failed_;
}

void DisplayFilm::Follow(PanelHost& host, Clock& clock)
{
    host_ = &host;
    listener_ = host.AddListener([this](const LinkEvent& event) { Look(event.timeUs); });
    turnHook_ = host.AddTurnHook([this, &clock] { Look(clock.NowMicros()); });
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
    // Each frame is left in place for the next to draw on.
    const GraphicsControlBlock control{DISPOSE_DO_NOT, false, static_cast<int>(delayCs), NO_TRANSPARENT_COLOR};
    std::array<GifByteType, 4> extension{};
    EGifGCBToExtension(&control, extension.data());
    const int width = area.width() * kScale;
    bool put = EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extension.size()), extension.data()) ==
                   GIF_OK &&
               EGifPutImageDesc(gif_, area.left * kScale, area.top * kScale, width, area.height() * kScale, false,
                                nullptr) == GIF_OK;
    std::vector<GifPixelType> line(static_cast<std::size_t>(width));
    for (int y = area.top * kScale; put && y < area.bottom * kScale; ++y) {
        const int row = y / kScale;
        for (int x = 0; x < width; ++x) {
            const int column = area.left + x / kScale;
            line[static_cast<std::size_t>(x)] = (picture[row / kRowsPerPage][column] >> (row % kRowsPerPage)) & 1;
        }
        put = EGifPutLine(gif_, line.data(), width) == GIF_OK;
    }
    if (!put) {
        failed_ = true;
    }
}

} // namespace quillon
