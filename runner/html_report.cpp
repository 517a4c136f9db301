#include "runner/html_report.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <utility>

namespace quillon::runner {

namespace {

constexpr const char* kStyle = R"(<style>
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;max-width:1200px}
h1{font-size:1.4em}h2{font-size:1.2em;margin-top:1.5em}
.passed{color:#176b1d}.failed{color:#b00020}
table{border-collapse:collapse}td,th{padding:2px 8px;text-align:left;vertical-align:top}
.facts th{color:#555;font-weight:normal}
.failure{border:3px solid #b00020;padding:0 1em 1em;background:#fff4f4}
.pictures{display:flex;gap:1em;flex-wrap:wrap}figure{margin:0}
img.screen{image-rendering:pixelated;border:1px solid #888;width:256px}
.strip{display:flex;gap:6px;overflow-x:auto;padding:4px 0}
.strip a{text-decoration:none;color:#555;font-size:11px;text-align:center}
.strip img{width:256px;display:block}
details{margin:2px 0;border-left:4px solid #ccc;padding-left:6px}
details.failed{border-left-color:#b00020}
summary{cursor:pointer}
.rows{font:12px monospace}.rows td{white-space:pre-wrap}
tr.reply{color:#0645ad}tr.fault{color:#a35200;font-weight:bold}tr.note{color:#777}
tr.bytes,tr.error{color:#b00020}
pre{background:#f3f3f3;padding:6px;overflow-x:auto}
</style>)";

// Opens the step a link or the address names, so that it shows at once.
constexpr const char* kScript = R"(<script>
function openNamed(){var id=location.hash.slice(1);var e=id&&document.getElementById(id);
if(e&&e.tagName==='DETAILS'){e.open=true;e.scrollIntoView();}}
window.addEventListener('hashchange',openNamed);window.addEventListener('load',openNamed);
</script>)";

// The length of the UTF-8 sequence at text[at], or 0 when it is not one.
std::size_t Utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // Overlong forms, surrogates and values above U+10FFFF are not UTF-8.
    const unsigned char second = byte(at + 1 < text.size() ? at + 1 : at);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90)) {
        return 0;
    }
    return length;
}

std::string Base64(std::string_view bytes)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            group = (group << 8) | (j < left ? static_cast<unsigned char>(bytes[i + j]) : 0U);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            out += j <= left ? kDigits[(group >> (18 - 6 * j)) & 0x3F] : '=';
        }
    }
    return out;
}

std::string Number(double value, const char* format)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), format, value);
    return text.data();
}

std::string Image(const std::string& png, const std::string& alt, const std::string& id = {})
{
    return "<img class=\"screen\"" + (id.empty() ? std::string() : " id=\"" + id + "\"") +
           " src=\"data:image/png;base64," + Base64(png) + "\" alt=\"" + EscapeHtml(alt) + "\">";
}

std::string StepId(std::size_t scenario, int step)
{
    std::string id = "s";
    id += std::to_string(scenario + 1);
    id += '-';
    id += std::to_string(step);
    return id;
}

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    constexpr std::size_t kShown = 32;
    std::string text;
    for (std::size_t i = 0; i < std::min(bytes.size(), kShown); ++i) {
        std::array<char, 4> digits{};
        std::snprintf(digits.data(), digits.size(), "%02X ", static_cast<unsigned>(bytes[i]));
        text += digits.data();
    }
    return bytes.size() > kShown ? text + "(" + std::to_string(bytes.size()) + " bytes)" : text;
}

const char* RowClass(const TraceRow& row)
{
    if (!row.error.empty()) {
        return "error";
    }
    switch (row.kind) {
    case TraceKind::Reply:
    case TraceKind::Sync:
        return "reply";
    case TraceKind::Fault:
        return "fault";
    case TraceKind::Note:
        return "note";
    case TraceKind::Bytes:
        return "bytes";
    case TraceKind::Frame:
        break;
    }
    return "frame";
}

std::string RowsTable(const std::vector<TraceRow>& rows)
{
    if (rows.empty()) {
        return "<p>No frames crossed the line around this step.</p>\n";
    }
    std::string html = "<table class=\"rows\"><tr><th>ms</th><th>from</th><th>block</th><th>bytes</th>"
                       "<th>what</th><th>error</th></tr>\n";
    for (const TraceRow& row : rows) {
        const std::string what = row.kind == TraceKind::Fault ? row.meaning + " (" + row.rule + ")"
                                 : row.meaning.empty()        ? row.name
                                                              : row.meaning;
        html += "<tr class=\"" + std::string(RowClass(row)) + "\"><td>" + Number(double(row.timeUs) / 1000, "%.1f") +
                "</td><td>" + DirectionName(row.direction) + "</td><td>" + std::to_string(row.block) + "</td><td>" +
                Hex(row.bytes) + "</td><td>" + EscapeHtml(what) + "</td><td>" + EscapeHtml(row.error) + "</td></tr>\n";
    }
    return html + "</table>\n";
}

std::string Fact(const std::string& name, const std::string& value)
{
    return "<tr><th>" + name + "</th><td>" + EscapeHtml(value) + "</td></tr>\n";
}

std::string Joined(const std::vector<std::string>& parts, const char* between)
{
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : between) + part;
    }
    return text;
}

// A word of the command line as a shell would take it back.
std::string CommandWord(const std::string& word)
{
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("_./:=,@%+-").find(c) != std::string_view::npos;
    });
    return plain ? word : ShellQuoted(word);
}

std::string RunSection(const RunFacts& run)
{
    std::string html = "<table class=\"facts\">\n";
    html += "<tr><th>outcome</th><td class=\"" + std::string(run.status == 0 ? "passed" : "failed") + "\">" +
            EscapeHtml(run.statusWords) + " (exit status " + std::to_string(run.status) + ")</td></tr>\n";
    std::vector<std::string> words;
    std::transform(run.commandLine.begin(), run.commandLine.end(), std::back_inserter(words), CommandWord);
    html += Fact("command", Joined(words, " "));
    html += Fact("version", run.version);
    html += Fact("line", run.line);
    html += Fact("faults", run.faults.empty() ? "none" : Joined(run.faults, "; "));
    html += Fact("fault seed", run.seed);
    html += Fact("started", run.started);
    html += Fact("took", Number(run.seconds, "%.3f") + " s");
    if (!run.film.empty()) {
        html += "<tr><th>film</th><td><a href=\"" + EscapeHtml(run.film) + "\">" + EscapeHtml(run.film) +
                "</a> (the display through the whole run)</td></tr>\n";
    }
    html += "</table>\n";
    for (const std::string& file : run.notWritten) {
        html += "<p class=\"failed\">Not written: " + EscapeHtml(file) + "</p>\n";
    }
    return html;
}

std::string ScreenText(const StepRecord& step)
{
    std::string html = "<p>The screen read, when the step ended:</p><pre>";
    for (const TextRun& run : step.screen) {
        html += "page " + std::to_string(run.page) + ", column " + std::to_string(run.column) + ": " +
                EscapeHtml(PanelTextToUtf8(run.text)) + (run.AllInverse() ? " (inverse)" : "") + "\n";
    }
    html += step.screen.empty() ? "(no text)</pre>\n" : "</pre>\n";
    if (!step.nearest.empty()) {
        html += "<p>Nearest text on it: <q>" + EscapeHtml(step.nearest) + "</q></p>\n";
    }
    return html;
}

std::string MismatchPictures(const StepRecord& step)
{
    std::string html = "<div class=\"pictures\">\n";
    const std::array<std::array<std::string, 3>, 3> pictures{
        {{"golden", step.goldenPicture, "golden"},
         {"actual", step.actualPicture, "the screen"},
         {"diff", step.diffPicture, "diff: red missing ink, blue extra ink"}}};
    for (const auto& [id, png, caption] : pictures) {
        if (!png.empty()) {
            html += "<figure>" + Image(png, caption, id) + "<figcaption>" + caption + "</figcaption></figure>\n";
        }
    }
    html += "</div>\n";
    if (!step.mismatch.actual.empty()) {
        html += "<p>To take the screen as the new golden:</p><pre id=\"accept\">cp " +
                EscapeHtml(ShellQuoted(step.mismatch.actual) + " " + ShellQuoted(step.mismatch.golden)) + "</pre>\n";
    }
    return html;
}

std::string FilmSection(const RunFacts& run)
{
    if (run.recentFilm.empty()) {
        return {};
    }
    const std::string seconds = Number(run.recentSeconds, "%.1f");
    return "<h2>The display's last " + seconds +
           " s</h2>\n<img class=\"screen\" id=\"recent-film\" "
           "src=\"data:image/gif;base64," +
           Base64(run.recentFilm) + "\" alt=\"the display's last " + seconds + " s\">\n";
}

std::string DeviceSection(const RunFacts& run)
{
    if (run.deviceLog.empty()) {
        return {};
    }
    std::string html = "<h2>The device's output</h2>\n<p>" + EscapeHtml(run.deviceLog) + ", which ends:</p><pre>";
    for (const std::string& line : run.deviceLogTail) {
        html += EscapeHtml(line) + "\n";
    }
    return html + "</pre>\n";
}

std::string FailureSection(const ScenarioResult& result, const StepRecord* step, std::size_t scenario)
{
    std::string html =
        "<section class=\"failure\" id=\"failure\">\n<h2 class=\"failed\">Failed: " + EscapeHtml(result.name) + ", " +
        EscapeHtml(result.file) + ":" + std::to_string(result.failedLine) + "</h2>\n<p id=\"reason\">" +
        EscapeHtml(result.message) + "</p>\n";
    if (step != nullptr) {
        html += "<p><a href=\"#" + StepId(scenario, step->number) + "\">step " + std::to_string(step->number) +
                " in the film strip</a></p>\n";
        html += step->goldenPicture.empty() ? std::string() : MismatchPictures(*step);
        html += step->screen.empty() && step->nearest.empty() ? std::string() : ScreenText(*step);
        html += "<h3>The protocol before it</h3>\n" + RowsTable(step->rows);
    }
    return html + "</section>\n";
}

std::string StepDetails(const StepRecord& step, std::size_t scenario)
{
    const bool failed = !step.failure.empty();
    std::string html = "<details id=\"" + StepId(scenario, step.number) + "\"" + (failed ? " class=\"failed\"" : "") +
                       "><summary>step " + std::to_string(step.number) + ", line " + std::to_string(step.line) + ": " +
                       EscapeHtml(step.label) + ", " + Number(step.ms, "%.0f") + " ms, ended at " +
                       Number(step.endMs, "%.0f") + " ms: <span class=\"" + (failed ? "failed\">" : "passed\">") +
                       (failed ? EscapeHtml(step.failure) : "passed") + "</span></summary>\n";
    if (!step.picture.empty()) {
        html += Image(step.picture, "the display after step " + std::to_string(step.number));
    }
    return html + RowsTable(step.rows) + "</details>\n";
}

std::string Strip(const ScenarioRecord& record, std::size_t scenario)
{
    std::string html = "<div class=\"strip\">\n";
    for (const StepRecord& step : record.steps) {
        if (!step.picture.empty()) {
            html += "<a href=\"#" + StepId(scenario, step.number) + "\" class=\"shot\" data-step=\"" +
                    std::to_string(step.number) + "\">" +
                    Image(step.picture, "the display after step " + std::to_string(step.number)) +
                    std::to_string(step.number) + (step.failure.empty() ? "" : " failed") + "</a>\n";
        }
    }
    return html + "</div>\n";
}

std::string ScenarioSection(const ScenarioResult& result, const ScenarioRecord* record, std::size_t scenario)
{
    const bool passed = result.outcome == Outcome::Passed;
    std::string html = "<section class=\"scenario\" id=\"scenario-" + std::to_string(scenario + 1) + "\">\n<h2>" +
                       EscapeHtml(result.name) + " <small>" + EscapeHtml(result.file) + "</small> <span class=\"" +
                       (passed ? "passed\">passed" : "failed\">failed") + "</span> in " +
                       Number(result.seconds, "%.3f") + " s</h2>\n";
    if (record == nullptr) {
        return html + "</section>\n";
    }
    html += Strip(*record, scenario);
    for (const StepRecord& step : record->steps) {
        html += StepDetails(step, scenario);
    }
    return html + "</section>\n";
}

// The first scenario that did not pass, with its failing step's record.
std::string FirstFailure(const std::vector<ScenarioResult>& results, const std::vector<ScenarioRecord>& records)
{
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (results[i].outcome == Outcome::Passed) {
            continue;
        }
        const StepRecord* step = nullptr;
        if (i < records.size()) {
            for (const StepRecord& candidate : records[i].steps) {
                step = candidate.number == results[i].failedStep ? &candidate : step;
            }
        }
        return FailureSection(results[i], step, i);
    }
    return {};
}

} // namespace

std::string HtmlReport(const RunFacts& run, const std::vector<ScenarioResult>& results,
                       const std::vector<ScenarioRecord>& records)
{
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data: 'self'; "
        "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n<title>quillon-run: " +
        EscapeHtml(run.statusWords) + "</title>\n" + kStyle + "\n" + kScript + "\n</head><body>\n";
    html += "<h1>quillon-run <span class=\"" + std::string(run.status == 0 ? "passed" : "failed") + "\">" +
            EscapeHtml(run.statusWords) + "</span></h1>\n";
    html +=
        FirstFailure(results, records) + FilmSection(run) + DeviceSection(run) + "<h2>The run</h2>\n" + RunSection(run);
    for (std::size_t i = 0; i < results.size(); ++i) {
        html += ScenarioSection(results[i], i < records.size() ? &records[i] : nullptr, i);
    }
    return html + "</body></html>\n";
}

void DropPictures(std::vector<ScenarioRecord>& records)
{
    for (ScenarioRecord& record : records) {
        for (StepRecord& step : record.steps) {
            step.picture.clear();
            step.goldenPicture.clear();
            step.actualPicture.clear();
            step.diffPicture.clear();
        }
    }
}

std::string ValidUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8Length(text, at);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

std::string EscapeHtml(std::string_view text)
{
    std::string out;
    for (const char c : ValidUtf8(text)) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::vector<std::string> HideSecrets(const std::vector<std::string>& arguments)
{
    const auto secret = [](std::string_view name) {
        std::string lower(name);
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        return lower.starts_with("--") &&
               (lower.find("token") != std::string::npos || lower.find("password") != std::string::npos ||
                lower.find("secret") != std::string::npos || lower.find("key") != std::string::npos);
    };
    std::vector<std::string> shown;
    bool hideNext = false;
    for (const std::string& argument : arguments) {
        const std::size_t equals = argument.find('=');
        if (std::exchange(hideNext, false)) {
            shown.emplace_back("(hidden)");
        } else if (equals != std::string::npos && secret(argument.substr(0, equals))) {
            shown.push_back(argument.substr(0, equals + 1) + "(hidden)");
        } else {
            hideNext = equals == std::string::npos && secret(argument);
            shown.push_back(argument);
        }
    }
    return shown;
}

std::string ShellQuoted(std::string_view text)
{
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

} // namespace quillon::runner
