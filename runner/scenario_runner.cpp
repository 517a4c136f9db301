#include "runner/scenario_runner.h"

#include <iostream>
#include <utility>

#include "protocol/protocol.h"
#include "trace/frame_decoder.h"

namespace quillon::runner {

namespace {

using Milliseconds = std::chrono::duration<double, std::milli>;

std::string Stem(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Built by appending: g++ 12 at -O2 warns falsely (-Wrestrict) about
// prepending to a temporary string.
std::string Quoted(const std::string& text)
{
    std::string quoted(1, '"');
    quoted += text;
    quoted += '"';
    return quoted;
}

// "1 error reply", "2 error replies".
std::string Count(std::uint32_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

ScenarioRunner::ScenarioRunner(HostLoop& loop, RunSettings settings)
    : loop_(loop), host_(loop.host()), settings_(std::move(settings)), errorsMark_(host_.stats().errorReplies),
      timeoutsMark_(host_.stats().timeoutReplies), refusedMark_(host_.stats().refusedBytes)
{
    frameListener_ = host_.AddListener([this](const LinkEvent& event) {
        const std::uint8_t code = event.length > 0 ? event.data[0] & kFunctionCodeMask : 0;
        if (event.kind == LinkEventKind::FrameExecuted && event.executed && code < frames_.size()) {
            ++frames_[code];
        }
        if (event.kind == LinkEventKind::ErrorRaised || event.kind == LinkEventKind::BytesRefused) {
            refusedWhy_ |= event.rxErrors;
        }
    });
}

ScenarioRunner::~ScenarioRunner()
{
    host_.RemoveListener(frameListener_);
}

std::string ScenarioRunner::ArtifactPath(const std::string& name) const
{
    return name.starts_with('/') ? name : settings_.artifactsDir + "/" + name;
}

ScenarioRunner::Wait ScenarioRunner::WaitFor(const std::function<bool()>& done, std::uint32_t timeoutMs)
{
    const auto stepDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto until = std::min(stepDeadline, settings_.deadline);
    const bool met = loop_.TurnUntil([&] { return done() || settings_.stopRequested(); }, until);
    if (settings_.stopRequested()) {
        interruption_ = Outcome::Stopped;
        return Wait::Cut;
    }
    if (met) {
        return Wait::Met;
    }
    if (settings_.deadline <= stepDeadline) {
        interruption_ = Outcome::TimedOut;
        return Wait::Cut;
    }
    return Wait::Expired;
}

std::string ScenarioRunner::WaitFailure(Wait wait, std::uint32_t timeoutMs, const std::string& what) const
{
    switch (wait) {
    case Wait::Met:
        return {};
    case Wait::Expired:
        return "timed out after " + std::to_string(timeoutMs) + " ms waiting for " + what;
    case Wait::Cut:
        break;
    }
    return interruption_ == Outcome::Stopped ? "stopped while waiting for " + what
                                             : "the run's time-out passed while waiting for " + what;
}

ScenarioResult ScenarioRunner::Run(const Scenario& scenario)
{
    const auto started = std::chrono::steady_clock::now();
    ScenarioResult result;
    result.name = scenario.name;
    result.file = scenario.file;
    interruption_ = Outcome::Passed;
    framesMark_ = frames_;
    for (std::size_t index = 0; index < scenario.steps.size(); ++index) {
        const Step& step = scenario.steps[index];
        const auto stepStart = std::chrono::steady_clock::now();
        mismatch_ = {};
        const std::string failure = RunStep(scenario, step);
        const double ms = Milliseconds(std::chrono::steady_clock::now() - stepStart).count();
        const auto took = static_cast<long>(ms);
        if (settings_.stepEnded) {
            settings_.stepEnded(StepEnd{scenario, index, failure, ms, mismatch_});
        }
        const std::string where = "step " + std::to_string(index + 1) + "/" + std::to_string(scenario.steps.size()) +
                                  " (line " + std::to_string(step.line) + ") " + step.label;
        if (!failure.empty()) {
            result.outcome = interruption_ == Outcome::Passed ? Outcome::Failed : interruption_;
            result.failedStep = static_cast<int>(index + 1);
            result.failedLine = step.line;
            result.message = where + ": " + failure;
            std::cerr << "quillon-run: [" << scenario.name << "] " << result.message << "\n";
            break;
        }
        if (!settings_.quiet) {
            std::cerr << "quillon-run: [" << scenario.name << "] " << where << ": passed after " << took << " ms\n";
        }
    }
    // A scenario's faults end with it; the next one starts on the line the
    // command line gave.
    for (const std::uint64_t fault : faultsGiven_) {
        host_.faults()->Remove(fault);
    }
    faultsGiven_.clear();
    result.pictures = std::exchange(pictures_, {});
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!settings_.quiet && result.outcome == Outcome::Passed) {
        std::cerr << "quillon-run: [" << scenario.name << "] passed in " << static_cast<long>(result.seconds * 1000)
                  << " ms\n";
    }
    return result;
}

std::string ScenarioRunner::RunStep(const Scenario& scenario, const Step& step)
{
    KeyLatch& keys = host_.engine().keys();
    switch (step.kind) {
    case StepKind::Delay: {
        const Wait wait = WaitFor([] { return false; }, step.durationMs);
        return wait == Wait::Cut ? WaitFailure(wait, step.durationMs, "the delay to pass") : std::string{};
    }
    case StepKind::Press: {
        keys.Press(step.key);
        if (step.durationMs == 0) {
            return {};
        }
        const Wait wait = WaitFor([] { return false; }, step.durationMs);
        keys.Release();
        return wait == Wait::Cut ? WaitFailure(wait, step.durationMs, "the hold to end") : std::string{};
    }
    case StepKind::Release:
        keys.Release();
        return {};
    case StepKind::Click:
        return Click(step);
    case StepKind::WaitText:
        return WaitText(step);
    case StepKind::ExpectText:
    case StepKind::ExpectNoText: {
        const bool shown = FindText(host_.ScreenText(), step.text, step.inverse).has_value();
        if (shown == (step.kind == StepKind::ExpectText)) {
            return {};
        }
        return std::string(shown ? "the screen shows \"" : "the screen does not show \"") + PanelTextToUtf8(step.text) +
               "\"; it reads: " + ScreenReads(host_.ScreenText());
    }
    case StepKind::WaitFrame: {
        const Wait wait =
            WaitFor([&] { return frames_[step.frameCode] != framesMark_[step.frameCode]; }, step.timeoutMs);
        framesMark_ = frames_;
        return WaitFailure(wait, step.timeoutMs, "a " + std::string(FunctionName(step.frameCode)) + " frame");
    }
    case StepKind::ExpectScreen:
        return ExpectScreen(scenario, step);
    case StepKind::Screenshot:
        return Screenshot(step);
    case StepKind::ExpectNoErrors:
        return ExpectNoErrors();
    case StepKind::Fault:
        if (host_.faults() == nullptr) {
            return "this link takes no faults";
        }
        if (step.fault) {
            faultsGiven_.push_back(host_.faults()->Add(*step.fault));
        } else {
            host_.faults()->Clear();
        }
        return {};
    }
    return {};
}

std::string ScenarioRunner::Click(const Step& step)
{
    // Pressed and let go at once: the latch keeps the key until one reply
    // has carried it, as a mouse click does.
    const auto click = std::make_shared<ClickWatch>(step.key);
    const int listener = host_.FollowClick(click);
    host_.engine().keys().Press(step.key);
    host_.engine().keys().Release();
    const Wait wait = WaitFor([&] { return click->done(); }, kDefaultWaitTimeoutMs);
    std::string failure = WaitFailure(wait, kDefaultWaitTimeoutMs,
                                      "the replies to carry key " + std::string(KeyName(step.key)) + " and let it go");
    host_.RemoveListener(listener);
    return failure;
}

std::string ScenarioRunner::WaitText(const Step& step)
{
    const auto shown = [&](bool inverse) { return FindText(host_.ScreenText(), step.text, inverse).has_value(); };
    const Wait wait = WaitFor([&] { return shown(step.inverse); }, step.timeoutMs);
    std::string failure =
        WaitFailure(wait, step.timeoutMs,
                    Quoted(PanelTextToUtf8(step.text)) + (step.inverse ? " drawn inverse" : "") + " on the screen");
    if (!failure.empty()) {
        if (step.inverse && shown(false)) {
            failure += "; it is there, but not inverse";
        }
        failure += "; it reads: " + ScreenReads(host_.ScreenText());
    }
    return failure;
}

std::string ScenarioRunner::ExpectNoErrors()
{
    const std::uint32_t errors = host_.stats().errorReplies - errorsMark_;
    const std::uint32_t timeouts = host_.stats().timeoutReplies - timeoutsMark_;
    const std::uint32_t refused = host_.stats().refusedBytes - refusedMark_;
    const std::uint8_t why = std::exchange(refusedWhy_, 0);
    errorsMark_ = host_.stats().errorReplies;
    timeoutsMark_ = host_.stats().timeoutReplies;
    refusedMark_ = host_.stats().refusedBytes;
    if (errors == 0 && timeouts == 0 && refused == 0) {
        return {};
    }
    // A device that floods the panel with bytes that make no frame may
    // never let it answer: the bytes it refused count as much.
    return Count(errors, "error reply", "error replies") + ", " +
           Count(timeouts, "time-out reply", "time-out replies") + " and " + Count(refused, "byte", "bytes") +
           " refused by the receiver" + (why != 0 ? " (" + DescribeRxErrors(why) + ")" : "") +
           " since the start or the last expect-no-errors";
}

std::string ScenarioRunner::ExpectScreen(const Scenario& scenario, const Step& step)
{
    const Bitmap actual(host_.engine().display());
    const auto slash = scenario.file.find_last_of('/');
    const std::string golden = step.path.starts_with('/') || slash == std::string::npos
                                   ? step.path
                                   : scenario.file.substr(0, slash + 1) + step.path;
    std::string error;
    if (settings_.updateGoldens) {
        if (!SaveGolden(golden, actual, error)) {
            return error;
        }
        std::cerr << "quillon-run: golden picture updated: " << golden << "\n";
        return {};
    }
    const Comparison comparison = Compare(actual, *step.golden, step.region);
    if (comparison.differing == 0) {
        return {};
    }
    mismatch_.golden = golden;
    SaveMismatch(scenario, step, actual, comparison);
    std::string message = std::to_string(comparison.differing) + " pixels differ from " + golden;
    if (!mismatch_.diff.empty()) {
        message += " (diff picture: " + mismatch_.diff + ", red: missing ink, blue: extra ink)";
    } else {
        message += " (the diff picture could not be written)";
    }
    return message;
}

void ScenarioRunner::SaveMismatch(const Scenario& scenario, const Step& step, const Bitmap& actual,
                                  const Comparison& comparison)
{
    const std::string stem = ArtifactPath(Stem(scenario.file) + "-" + Stem(step.path));
    // The screen in the golden's own kind of file, so that it can replace it.
    const bool text = EndsWith(step.path, ".txt");
    const std::string actualPath = stem + (text ? ".actual.txt" : ".actual.png");
    const std::string diffPath = stem + ".diff.png";
    std::string error;
    if (WriteFile(actualPath, text ? ToTextArt(actual) : EncodePng(quillon::Screenshot(actual, 1)), error)) {
        mismatch_.actual = actualPath;
        pictures_.push_back(actualPath);
    } else {
        std::cerr << "quillon-run: " << error << "\n";
    }
    if (WriteFile(diffPath, EncodePng(comparison.diff), error)) {
        mismatch_.diff = diffPath;
        pictures_.push_back(diffPath);
    } else {
        std::cerr << "quillon-run: " << error << "\n";
    }
}

std::string ScenarioRunner::Screenshot(const Step& step)
{
    const Bitmap picture(host_.engine().display());
    const std::string path = ArtifactPath(step.path);
    std::string error;
    const std::string bytes =
        EndsWith(path, ".txt") ? ToTextArt(picture) : EncodePng(quillon::Screenshot(picture, step.scale));
    if (!WriteFile(path, bytes, error)) {
        return error;
    }
    pictures_.push_back(path);
    if (!settings_.quiet) {
        std::cerr << "quillon-run: screenshot saved to " << path << "\n";
    }
    return {};
}

int ExitStatus(const std::vector<ScenarioResult>& results, int timeoutExitCode)
{
    int status = 0;
    for (const ScenarioResult& result : results) {
        if (result.outcome == Outcome::TimedOut) {
            return timeoutExitCode;
        }
        if (result.outcome != Outcome::Passed) {
            status = 1;
        }
    }
    return status;
}

} // namespace quillon::runner
