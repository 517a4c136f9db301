#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "host/panel_host.h"
#include "protocol/protocol.h"
#include "runner/host_loop.h"
#include "runner/scenario.h"

namespace quillon::runner {

enum class Outcome {
    Passed,
    Failed,
    // The whole run's time-out passed.
    TimedOut,
    // The runner was asked to stop.
    Stopped,
};

struct ScenarioResult {
    std::string name;
    std::string file;
    Outcome outcome = Outcome::Passed;
    // The failing step (1-based, 0 for none), its line in the file, and why.
    int failedStep = 0;
    std::string message;
    double seconds = 0;
    int failedLine = 0;
    // The pictures the scenario wrote: screenshots, and the screen and diff
    // picture of an expect-screen that failed.
    std::vector<std::string> pictures;
};

// An expect-screen that failed: its golden, and the files written of it (the
// screen as the golden's kind of file, which can replace it, and the diff
// picture), each empty when it could not be written.
struct ScreenMismatch {
    std::string golden;
    std::string actual;
    std::string diff;
};

// A step just ended; the display and the host are as the step left them.
struct StepEnd {
    const Scenario& scenario;
    // 0-based.
    std::size_t index = 0;
    // Empty when it passed.
    std::string failure;
    double ms = 0;
    ScreenMismatch mismatch;
};

struct RunSettings {
    bool updateGoldens = false;
    // Where screenshots with a relative name and diff pictures go.
    std::string artifactsDir = ".";
    bool quiet = false;
    PanelHost::Moment deadline = PanelHost::Moment::max();
    std::function<bool()> stopRequested = [] { return false; };
    // Told after each step, failed or not.
    std::function<void(const StepEnd&)> stepEnded;
};

// Runs scenarios against the panel, step by step, telling on standard error
// which step runs and how long it waited. Errors are counted from the
// runner's creation until the first expect-no-errors, then from each one on;
// frames for wait-frame from the scenario's start until the first
// wait-frame, then from each one on, so a frame that came while a click was
// being answered still counts.
class ScenarioRunner {
public:
    ScenarioRunner(HostLoop& loop, RunSettings settings);
    ~ScenarioRunner();
    ScenarioRunner(const ScenarioRunner&) = delete;
    ScenarioRunner& operator=(const ScenarioRunner&) = delete;
    ScenarioResult Run(const Scenario& scenario);

private:
    // Empty when the step passed, otherwise why it failed.
    std::string RunStep(const Scenario& scenario, const Step& step);
    enum class Wait {
        Met,
        // The step's own time ran out.
        Expired,
        // The run's deadline or a stop came first; interruption_ says which.
        Cut,
    };
    Wait WaitFor(const std::function<bool()>& done, std::uint32_t timeoutMs);
    // Why a wait for `what` failed.
    std::string WaitFailure(Wait wait, std::uint32_t timeoutMs, const std::string& what) const;
    std::string Click(const Step& step);
    std::string WaitText(const Step& step);
    std::string ExpectNoErrors();
    std::string ExpectScreen(const Scenario& scenario, const Step& step);
    std::string Screenshot(const Step& step);
    std::string ArtifactPath(const std::string& name) const;
    // Writes the screen that differs from its golden beside its diff picture.
    void SaveMismatch(const Scenario& scenario, const Step& step, const Bitmap& actual, const Comparison& comparison);

    HostLoop& loop_;
    PanelHost& host_;
    RunSettings settings_;
    std::uint32_t errorsMark_ = 0;
    std::uint32_t timeoutsMark_ = 0;
    std::uint32_t refusedMark_ = 0;
    // The receive errors raised since the last expect-no-errors.
    std::uint8_t refusedWhy_ = 0;
    // Frames carried out, by function code, and the counts at the last mark.
    std::array<std::uint32_t, kHighestFunctionCode + 1> frames_{};
    std::array<std::uint32_t, kHighestFunctionCode + 1> framesMark_{};
    int frameListener_ = 0;
    // Set when the run's deadline or a stop cut a step short.
    Outcome interruption_ = Outcome::Passed;
    // The faults the scenario being run gave, ended with it.
    std::vector<std::uint64_t> faultsGiven_;
    // What the step being run wrote.
    ScreenMismatch mismatch_;
    std::vector<std::string> pictures_;
};

// 0 all passed, 1 a step failed, the time-out code when the run timed out
// (a stop counts as a failure).
int ExitStatus(const std::vector<ScenarioResult>& results, int timeoutExitCode);

} // namespace quillon::runner
