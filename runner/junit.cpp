#include "runner/junit.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>

#include "runner/html_report.h"

namespace quillon::runner {

namespace {

// Text for an element, or for an attribute, where a line break or a tab
// written as itself would be read back as a space. XML 1.0 has no place for
// other control characters: they are left out.
std::string Escape(const std::string& text, bool attribute = false)
{
    std::string kept;
    std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
                 [](char c) { return static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t'; });
    const std::string escaped = EscapeHtml(kept);
    if (!attribute) {
        return escaped;
    }
    std::string out;
    for (const char c : escaped) {
        out += c == '\n' ? "&#10;" : c == '\t' ? "&#9;" : std::string(1, c);
    }
    return out;
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// The attachment lines of a test case: its pictures, then the run's files,
// each once and only when it is there.
std::string Attachments(const ScenarioResult& result, const std::vector<std::string>& runFiles)
{
    std::vector<std::string> named;
    std::string text;
    for (const std::vector<std::string>* files : {&result.pictures, &runFiles}) {
        for (const std::string& file : *files) {
            std::error_code ignored;
            if (std::find(named.begin(), named.end(), file) == named.end() &&
                std::filesystem::is_regular_file(file, ignored)) {
                named.push_back(file);
                text += "[[ATTACHMENT|" + file + "]]\n";
            }
        }
    }
    return text.empty() ? text : "      <system-out>" + Escape(text) + "</system-out>\n";
}

std::string TestCase(const ScenarioResult& result, const std::vector<std::string>& runFiles)
{
    std::string xml = "    <testcase classname=\"" + Escape(result.file, true) + "\" name=\"" +
                      Escape(result.name, true) + "\" time=\"" + Seconds(result.seconds) + "\">\n";
    if (result.outcome != Outcome::Passed) {
        const std::string message = result.failedLine > 0
                                        ? result.file + ":" + std::to_string(result.failedLine) + ": " + result.message
                                        : result.message;
        const char* element = result.outcome == Outcome::Failed ? "failure" : "error";
        xml += "      <" + std::string(element) + " message=\"" + Escape(message, true) + "\">" + Escape(message) +
               "</" + element + ">\n";
    }
    return xml + Attachments(result, runFiles) + "    </testcase>\n";
}

} // namespace

std::string JUnitReport(const std::vector<ScenarioResult>& results, double seconds,
                        const std::vector<std::pair<std::string, std::string>>& properties,
                        const std::vector<std::string>& runFiles)
{
    int failures = 0;
    int errors = 0;
    for (const ScenarioResult& result : results) {
        failures += result.outcome == Outcome::Failed ? 1 : 0;
        errors += result.outcome == Outcome::TimedOut || result.outcome == Outcome::Stopped ? 1 : 0;
    }
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites tests=\"" + std::to_string(results.size()) + "\" failures=\"" + std::to_string(failures) +
           "\" errors=\"" + std::to_string(errors) + "\" time=\"" + Seconds(seconds) + "\">\n";
    xml += "  <testsuite name=\"quillon-run\" tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
           std::to_string(failures) + "\" errors=\"" + std::to_string(errors) + "\" time=\"" + Seconds(seconds) +
           "\">\n";
    if (!properties.empty()) {
        xml += "    <properties>\n";
        for (const auto& [name, value] : properties) {
            xml += "      <property name=\"" + Escape(name, true) + "\" value=\"" + Escape(value, true) + "\"/>\n";
        }
        xml += "    </properties>\n";
    }
    for (const ScenarioResult& result : results) {
        xml += TestCase(result, runFiles);
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

} // namespace quillon::runner
