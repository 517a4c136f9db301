// Any text as a scenario file. The parser either gives a scenario whose
// every step is within bounds or refuses the text with "file:line: reason";
// it never crashes, hangs or reads past its input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "display/display_memory.h"
#include "protocol/protocol.h"
#include "runner/scenario.h"

namespace {

void Check(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto scenario = quillon::runner::ParseScenario(text, "fuzz.yaml", "", false, error);
    if (!scenario) {
        Check(error.starts_with("fuzz.yaml:"));
        return 0;
    }
    Check(!scenario->steps.empty());
    for (const auto& step : scenario->steps) {
        Check(step.line >= 1);
        Check(step.scale >= 1 && step.scale <= 16);
        Check(step.region.width > 0 && step.region.height > 0);
        Check(step.region.x + step.region.width <= quillon::kDisplayWidth);
        Check(step.region.y + step.region.height <= quillon::kDisplayHeight);
        Check(step.frameCode <= quillon::kHighestFunctionCode);
    }
    return 0;
}
