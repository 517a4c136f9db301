#include "host/display_pacer.h"

#include <gtest/gtest.h>

#include "tests/support/fakes.h"

namespace quillon::runner {
namespace {

// Displays kept and taken as time goes: at most one taken a frame, always
// the latest, and the wait till the next frame told.
TEST(WebDisplayPacerTest, OneDisplayAFrameAndAlwaysTheLatest)
{
    constexpr std::uint64_t frame = DisplayPacer::kFrameUs;
    const struct {
        std::uint64_t advanceUs;
        const char* kept;
        const char* taken;
        std::optional<std::uint64_t> wait;
    } steps[] = {
        {0, nullptr, nullptr, std::nullopt},
        {0, "a", "a", std::nullopt},
        {1000, "b", nullptr, frame - 1000},
        {1000, "c", nullptr, frame - 2000},
        {frame - 2001, nullptr, nullptr, 1},
        {1, nullptr, "c", std::nullopt},
        {frame - 1, nullptr, nullptr, std::nullopt},
        {5 * frame, "d", "d", std::nullopt},
        {frame, "e", "e", std::nullopt},
    };
    testing::ManualClock clock;
    DisplayPacer pacer(clock);
    int index = 0;
    for (const auto& step : steps) {
        ++index;
        clock.AdvanceMicros(step.advanceUs);
        if (step.kept != nullptr) {
            pacer.Keep(step.kept);
        }
        const auto taken = pacer.Take();
        EXPECT_EQ(taken.value_or("none"), step.taken == nullptr ? "none" : step.taken) << "step " << index;
        EXPECT_EQ(pacer.Wait(), step.wait) << "step " << index;
    }
}

} // namespace
} // namespace quillon::runner
