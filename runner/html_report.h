#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display/screen_reader.h"
#include "runner/scenario_runner.h"
#include "trace/trace_rows.h"

namespace quillon::runner {

// One step as the report shows it: where it stands, how it went, the display
// it left (a PNG at twice the display's size, in the panel's colours; empty
// when the run keeps no pictures) and the protocol rows around it.
struct StepRecord {
    int number = 0;
    int line = 0;
    std::string label;
    double ms = 0;
    // Empty when it passed.
    std::string failure;
    // Milliseconds from the run's start to the step's end.
    double endMs = 0;
    std::string picture;
    std::vector<TraceRow> rows;
    // A failed expect-screen: its files, and the golden, the screen and the
    // diff as PNG.
    ScreenMismatch mismatch;
    std::string goldenPicture;
    std::string actualPicture;
    std::string diffPicture;
    // A failed text step: what the screen read, and the text on it nearest
    // the one asked for.
    std::vector<TextRun> screen;
    std::string nearest;
};

struct ScenarioRecord {
    std::string name;
    std::string file;
    std::vector<StepRecord> steps;
};

// What the report tells of the run as a whole.
struct RunFacts {
    // The command line, secrets hidden (HideSecrets).
    std::vector<std::string> commandLine;
    std::string version;
    std::string line;
    std::vector<std::string> faults;
    std::string seed;
    std::string started;
    double seconds = 0;
    int status = 0;
    std::string statusWords;
    // The film of the display, as a link from the report's folder; empty
    // when there is none.
    std::string film;
    // The GIF of the display's last seconds, and how many it holds.
    std::string recentFilm;
    double recentSeconds = 0;
    // The device --spawn started: where its output went and its last lines.
    std::string deviceLog;
    std::vector<std::string> deviceLogTail;
    // Files that could not be written, with the reason.
    std::vector<std::string> notWritten;
};

// The report: one HTML file that holds everything it shows and fetches
// nothing. results and records are the scenarios in the order they ran.
std::string HtmlReport(const RunFacts& run, const std::vector<ScenarioResult>& results,
                       const std::vector<ScenarioRecord>& records);

// Leaves the steps without their pictures: the summary of a run whose
// pictures are not kept.
void DropPictures(std::vector<ScenarioRecord>& records);

// Text for HTML or XML, element or attribute, as it is; bytes that are not UTF-8
// shown as U+FFFD.
std::string EscapeHtml(std::string_view text);
// Bytes that are not UTF-8 replaced, each by U+FFFD.
std::string ValidUtf8(std::string_view text);
// The command line with the value of every option named like a secret
// (token, password, secret, key) hidden, whether given after the option or
// after '='.
std::vector<std::string> HideSecrets(const std::vector<std::string>& arguments);
// The quoted form of a path for a POSIX shell.
std::string ShellQuoted(std::string_view text);

} // namespace quillon::runner
