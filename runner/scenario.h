#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/picture.h"
#include "host/words.h"
#include "link/fault_rules.h"

namespace quillon::runner {

enum class StepKind {
    Delay,
    Press,
    Release,
    Click,
    WaitText,
    ExpectText,
    ExpectNoText,
    WaitFrame,
    ExpectScreen,
    Screenshot,
    ExpectNoErrors,
    Fault,
};

struct Step {
    StepKind kind = StepKind::Delay;
    // Where it stands in its file, and how a report names it.
    int line = 0;
    std::string label;
    // delay, and press's hold (0: stays pressed until a release step).
    std::uint32_t durationMs = 0;
    // Key bit of press and click.
    std::uint8_t key = 0;
    // Text steps: the text in the panel's character set, and whether every
    // character of it must be inverse.
    std::string text;
    bool inverse = false;
    // wait-text and wait-frame.
    std::uint32_t timeoutMs = 0;
    std::uint8_t frameCode = 0;
    // expect-screen's golden and screenshot's output, as given and as found
    // from the scenario's folder.
    std::string path;
    Region region;
    int scale = 1;
    // The golden picture, read before anything runs (not when updating).
    std::optional<Bitmap> golden;
    // fault: the rule given from this step on; nothing for "fault: clear".
    std::optional<FaultRule> fault;
};

struct Scenario {
    std::string name;
    std::string file;
    std::vector<Step> steps;
};

// Reads a scenario file. Every step is checked, and every golden picture read
// unless goldens are being updated, before anything runs; nothing, with
// "file:line: reason", when the file is not a valid scenario.
std::optional<Scenario> LoadScenario(const std::string& path, bool updatingGoldens, std::string& error);
// The same from text; relative paths are taken from folder.
std::optional<Scenario> ParseScenario(std::string_view text, const std::string& fileName, const std::string& folder,
                                      bool readGoldens, std::string& error);

} // namespace quillon::runner
