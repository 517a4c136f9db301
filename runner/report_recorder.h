#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "host/panel_host.h"
#include "host/picture.h"
#include "runner/html_report.h"
#include "runner/recent_film.h"
#include "trace/trace_rows.h"

namespace quillon::runner {

// Gathers what the report shows while the run goes: each step as it ends,
// with the display it left, and the protocol rows of a window around it,
// built from the host's events as the trace is. Only the rows of the last
// seconds are kept between steps, so a long run stays small.
class ReportRecorder {
public:
    // filmStem: where the film of the last seconds is made (stem-1.gif and
    // stem-2.gif, removed when it ends); none when empty.
    ReportRecorder(PanelHost& host, Clock& clock, const std::string& filmStem);
    ~ReportRecorder();
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    void StepEnded(const StepEnd& end);
    // The scenarios in the order they ran, with the pictures of their steps.
    const std::vector<ScenarioRecord>& scenarios();
    // The GIF of the display's last seconds, with how many it holds; empty
    // when there is none.
    std::string FinishFilm(double& seconds);

    // Rows kept between steps, and at most this many of them.
    static constexpr std::uint64_t kKeptUs = 5'000'000;
    static constexpr std::size_t kKeptRows = 4000;
    // A passing step shows the rows from this long before it started, the
    // last kPassingRows of them; a failing one its last kFailingRows.
    static constexpr std::uint64_t kBeforeStepUs = 1'000'000;
    static constexpr std::size_t kPassingRows = 20;
    static constexpr std::size_t kFailingRows = 300;

private:
    void TakeRow(const TraceRow& row);
    std::vector<TraceRow> RowsSince(std::uint64_t fromUs, std::size_t most) const;
    // What a failed step adds: the three pictures of a screen that differs,
    // or the screen read for a text that was not there.
    void AddFailure(StepRecord& record, const Step& step, const StepEnd& end);

    PanelHost& host_;
    Clock& clock_;
    const std::uint64_t startUs_;
    TraceBuilder builder_;
    int listener_ = 0;
    std::deque<TraceRow> recent_;
    std::optional<RecentFilm> film_;
    std::vector<ScenarioRecord> scenarios_;
    // The display each step left, made into a picture only when the report
    // is written: encoding it as the step ends would hold up the panel's
    // thread, and with it a reply the device is waiting for.
    struct StepDisplay {
        std::size_t scenario;
        std::size_t step;
        Bitmap display;
    };
    std::vector<StepDisplay> unencoded_;
    const Scenario* current_ = nullptr;
};

// The text on the screen nearest the one asked for (both in the panel's
// characters): the run holding the closest match of it, in UTF-8.
std::string NearestText(const std::vector<TextRun>& screen, std::string_view wanted);

} // namespace quillon::runner
