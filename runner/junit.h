#pragma once

#include <string>
#include <utility>
#include <vector>

#include "runner/scenario_runner.h"

namespace quillon::runner {

// The results as JUnit XML, which CI servers show as a test report: one test
// case per scenario, the failing step and its reason in the failure message.
// properties: names and values that hold for the whole run, such as the
// seed that repeats its faults.
std::string JUnitReport(const std::vector<ScenarioResult>& results, double seconds,
                        const std::vector<std::pair<std::string, std::string>>& properties = {});

} // namespace quillon::runner
