#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "display/display_memory.h"
#include "host/panel_host.h"

struct GifFileType;

namespace quillon {

// A film of the display: an animated GIF with a frame each time display
// memory changed, each shown for as long as the display kept it by the
// engine's clock, in the colours of the runner's screenshots at twice the
// display's size. A frame holds only the rectangle that changed since the
// one before it, so that a long run stays small. The file is packed by
// giflib.
class DisplayFilm {
public:
    static constexpr int kScale = 2;
    // Changes closer together than this make one frame, showing the last of
    // them: browsers show shorter frames as 100 ms and the film would slow.
    static constexpr std::uint64_t kShortestFrameUs = 20'000;

    explicit DisplayFilm(const DisplayMemory& memory) : memory_(memory) {}
    DisplayFilm(const DisplayFilm&) = delete;
    DisplayFilm& operator=(const DisplayFilm&) = delete;
    ~DisplayFilm();

    // Starts the film at startUs (engine clock microseconds) with what the
    // display shows now; false, with the path and the system's reason, when
    // the file cannot be written.
    bool Open(const std::string& path, std::uint64_t startUs, std::string& error);
    // Takes a change of the display, if there has been one, as made at nowUs.
    // A frame whose end it finds goes to the film's own thread, which packs
    // and writes it, so that the film never delays a reply.
    void Look(std::uint64_t nowUs);
    // Writes the last frame, shown until endUs, closes the file and lets go
    // of the host it follows; false when the file could not be written in
    // full.
    bool Finish(std::uint64_t endUs);
    // Looks at the display after each of the host's events, at the event's
    // time, and after each of its turns, at the clock's, until Finish.
    void Follow(PanelHost& host, Clock& clock);
    bool recording() const { return gif_ != nullptr; }

private:
    using Pages = std::array<DisplayMemory::Page, kDisplayPages>;

    Pages Current() const;
    // Writes the frame that showed picture until endUs.
    void WriteFrame(const Pages& picture, std::uint64_t endUs);
    void WriteImage(const Pages& picture, const DisplayRect& area, std::uint32_t delayCs);
    // The film's thread: writes the frames ended until told to stop.
    void WriteEnded(std::stop_token stop);
    // Ends the film's thread once it has written every frame ended.
    void StopWriter();
    // Closes the file; false when any of it could not be written.
    bool Close();

    const DisplayMemory& memory_;
    std::FILE* file_ = nullptr;
    GifFileType* gif_ = nullptr;
    // A write to the file or a call to giflib failed.
    std::atomic<bool> failed_ = false;
    PanelHost* host_ = nullptr;
    int listener_ = 0;
    int turnHook_ = 0;
    std::uint64_t startUs_ = 0;
    std::uint64_t lastUs_ = 0;
    std::uint64_t seenChange_ = 0;
    // The frame not yet written, as its end is not known: the display since
    // shownUs_.
    Pages shown_{};
    std::uint64_t shownUs_ = 0;
    // Frames ended but not yet written, each picture and its end: handed
    // from the ticking thread to the film's.
    std::mutex mutex_;
    std::condition_variable_any frameEnded_;
    std::vector<std::pair<Pages, std::uint64_t>> ended_;
    // What follows is the film's thread's alone while it runs.
    // What the film shows once the frames written so far have played.
    std::optional<Pages> written_;
    // The delays written so far, in GIF's hundredths of a second; each frame
    // ends on the hundredth nearest its end, so rounding never adds up.
    std::uint64_t writtenCs_ = 0;
    std::jthread writer_;
};

} // namespace quillon
