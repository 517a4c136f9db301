#pragma once

#include <string>
#include <vector>

#include "runner/scenario_runner.h"

namespace quillon::runner {

// The results as JUnit XML, which CI servers show as a test report: one test
// case per scenario, the failing step and its reason in the failure message.
std::string JUnitReport(const std::vector<ScenarioResult>& results, double seconds);

} // namespace quillon::runner
