#include "runner/recent_film.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace quillon::runner {

RecentFilm::RecentFilm(const DisplayMemory& memory, const std::string& stem)
    : memory_(memory), paths_{stem + "-1.gif", stem + "-2.gif"}
{
}

RecentFilm::~RecentFilm()
{
    for (std::size_t i = 0; i < films_.size(); ++i) {
        films_[i].reset();
        std::error_code ignored;
        std::filesystem::remove(paths_[i], ignored);
    }
}

bool RecentFilm::Start(std::uint64_t nowUs, std::string& error)
{
    films_[newer_] = std::make_unique<DisplayFilm>(memory_);
    startedUs_[newer_] = nowUs;
    return films_[newer_]->Open(paths_[newer_], nowUs, error);
}

void RecentFilm::Look(std::uint64_t nowUs)
{
    for (const auto& film : films_) {
        if (film) {
            film->Look(nowUs);
        }
    }
    if (films_[newer_] && nowUs - startedUs_[newer_] >= kSpanUs) {
        newer_ = 1 - newer_;
        std::string ignored;
        Start(nowUs, ignored);
    }
}

std::string RecentFilm::Finish(std::uint64_t endUs, double& seconds)
{
    const std::size_t older = films_[1 - newer_] ? 1 - newer_ : newer_;
    if (!films_[older]) {
        return {};
    }
    const bool written = films_[older]->Finish(endUs);
    if (films_[1 - older]) {
        films_[1 - older]->Finish(endUs);
    }
    std::ifstream file(paths_[older], std::ios::binary);
    const std::string gif{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    seconds = static_cast<double>(endUs - startedUs_[older]) / 1e6;
    return written && file ? gif : std::string();
}

} // namespace quillon::runner
