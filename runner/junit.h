#pragma once

#include <string>
#include <utility>
#include <vector>

#include "runner/scenario_runner.h"

namespace quillon::runner {

// The results as JUnit XML, which CI servers show as a test report: one test
// case per scenario, the failing step and its reason in the failure message.
// The failure message starts with the scenario's file and the failing step's
// line. properties: names and values that hold for the whole run, such as the
// seed that repeats its faults. Each test case's standard output names, as
// [[ATTACHMENT|path]] lines, the pictures its scenario wrote and runFiles
// (the report, the film): only those that exist when it is written.
std::string JUnitReport(const std::vector<ScenarioResult>& results, double seconds,
                        const std::vector<std::pair<std::string, std::string>>& properties = {},
                        const std::vector<std::string>& runFiles = {});

} // namespace quillon::runner
