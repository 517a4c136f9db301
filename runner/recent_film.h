#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "host/display_film.h"

namespace quillon::runner {

// The display's last half minute or more, for the report to hold: two films
// that take turns, each started again once the other has kSpanUs, so that
// the older always holds the last kSpanUs to twice that (or the whole run,
// when it is shorter). Their files are removed when it ends.
class RecentFilm {
public:
    static constexpr std::uint64_t kSpanUs = 30'000'000;

    // Its files are stem-1.gif and stem-2.gif.
    RecentFilm(const DisplayMemory& memory, const std::string& stem);
    ~RecentFilm();
    RecentFilm(const RecentFilm&) = delete;
    RecentFilm& operator=(const RecentFilm&) = delete;

    // Starts filming; false, with the reason, when its file cannot be written.
    bool Start(std::uint64_t nowUs, std::string& error);
    // Takes a change of the display, as made at nowUs.
    void Look(std::uint64_t nowUs);
    // Ends the films: the GIF of the older, with the seconds it holds; an
    // empty GIF when it could not be written.
    std::string Finish(std::uint64_t endUs, double& seconds);

private:
    const DisplayMemory& memory_;
    std::array<std::string, 2> paths_;
    std::array<std::unique_ptr<DisplayFilm>, 2> films_;
    std::array<std::uint64_t, 2> startedUs_{};
    std::size_t newer_ = 0;
};

} // namespace quillon::runner
