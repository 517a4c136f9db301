#include "runner/report_recorder.h"

#include <algorithm>
#include <numeric>

#include "host/picture.h"

namespace quillon::runner {

namespace {

// The fewest edits that turn wanted into some part of text.
std::size_t MatchDistance(std::string_view text, std::string_view wanted)
{
    std::vector<std::size_t> previous(wanted.size() + 1);
    std::iota(previous.begin(), previous.end(), std::size_t{0});
    std::size_t best = previous.back();
    for (const char c : text) {
        std::vector<std::size_t> row(wanted.size() + 1, 0);
        for (std::size_t j = 1; j <= wanted.size(); ++j) {
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + (wanted[j - 1] == c ? 0 : 1)});
        }
        best = std::min(best, row.back());
        previous = std::move(row);
    }
    return best;
}

std::string Png2x(const Bitmap& picture)
{
    return EncodePng(Screenshot(picture, 2));
}

} // namespace

std::string NearestText(const std::vector<TextRun>& screen, std::string_view wanted)
{
    const TextRun* nearest = nullptr;
    std::size_t best = wanted.size() + 1;
    for (const TextRun& run : screen) {
        if (const std::size_t distance = MatchDistance(run.text, wanted); distance < best) {
            best = distance;
            nearest = &run;
        }
    }
    return nearest != nullptr && best < wanted.size() ? PanelTextToUtf8(nearest->text) : std::string();
}

ReportRecorder::ReportRecorder(PanelHost& host, Clock& clock, const std::string& filmStem)
    : host_(host), clock_(clock), startUs_(clock.NowMicros()),
      builder_(startUs_, [this](const TraceRow& row) { TakeRow(row); })
{
    std::string ignored;
    if (!filmStem.empty()) {
        film_.emplace(host_.engine().display(), filmStem);
        // A film that cannot be made leaves the report without it.
        if (!film_->Start(startUs_, ignored)) {
            film_.reset();
        }
    }
    listener_ = host_.AddListener([this](const LinkEvent& event) {
        builder_.OnLinkEvent(event);
        if (film_) {
            film_->Look(event.timeUs);
        }
    });
}

std::string ReportRecorder::FinishFilm(double& seconds)
{
    return film_ ? film_->Finish(clock_.NowMicros(), seconds) : std::string();
}

ReportRecorder::~ReportRecorder()
{
    host_.RemoveListener(listener_);
}

void ReportRecorder::TakeRow(const TraceRow& row)
{
    recent_.push_back(row);
    while (recent_.size() > kKeptRows || recent_.front().timeUs + kKeptUs < row.timeUs) {
        recent_.pop_front();
    }
}

std::vector<TraceRow> ReportRecorder::RowsSince(std::uint64_t fromUs, std::size_t most) const
{
    const auto first =
        std::find_if(recent_.begin(), recent_.end(), [&](const TraceRow& row) { return row.timeUs >= fromUs; });
    const auto count = std::min<std::size_t>(most, static_cast<std::size_t>(recent_.end() - first));
    return {recent_.end() - static_cast<std::ptrdiff_t>(count), recent_.end()};
}

void ReportRecorder::StepEnded(const StepEnd& end)
{
    if (current_ != &end.scenario || end.index == 0) {
        current_ = &end.scenario;
        scenarios_.push_back({end.scenario.name, end.scenario.file, {}});
    }
    const Step& step = end.scenario.steps[end.index];
    const std::uint64_t nowUs = clock_.NowMicros() - startUs_;
    const auto tookUs = static_cast<std::uint64_t>(end.ms * 1000);
    StepRecord record;
    record.number = static_cast<int>(end.index + 1);
    record.line = step.line;
    record.label = step.label;
    record.ms = end.ms;
    record.failure = end.failure;
    record.endMs = static_cast<double>(nowUs) / 1000;
    unencoded_.push_back({scenarios_.size() - 1, scenarios_.back().steps.size(), Bitmap(host_.engine().display())});
    if (end.failure.empty()) {
        const std::uint64_t fromUs = nowUs > tookUs + kBeforeStepUs ? nowUs - tookUs - kBeforeStepUs : 0;
        record.rows = RowsSince(fromUs, kPassingRows);
    } else {
        record.rows = RowsSince(0, kFailingRows);
        AddFailure(record, step, end);
    }
    scenarios_.back().steps.push_back(std::move(record));
}

const std::vector<ScenarioRecord>& ReportRecorder::scenarios()
{
    for (const StepDisplay& left : unencoded_) {
        scenarios_[left.scenario].steps[left.step].picture = Png2x(left.display);
    }
    unencoded_.clear();
    return scenarios_;
}

void ReportRecorder::AddFailure(StepRecord& record, const Step& step, const StepEnd& end)
{
    if (step.kind == StepKind::ExpectScreen && step.golden) {
        const Bitmap actual(host_.engine().display());
        record.mismatch = end.mismatch;
        record.goldenPicture = Png2x(*step.golden);
        record.actualPicture = Png2x(actual);
        record.diffPicture = EncodePng(Compare(actual, *step.golden, step.region).diff);
    }
    if (step.kind == StepKind::WaitText || step.kind == StepKind::ExpectText || step.kind == StepKind::ExpectNoText) {
        record.screen = host_.ScreenText();
        if (step.kind != StepKind::ExpectNoText) {
            record.nearest = NearestText(record.screen, step.text);
        }
    }
}

} // namespace quillon::runner
