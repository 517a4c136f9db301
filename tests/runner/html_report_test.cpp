#include "runner/html_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "runner/junit.h"
#include "runner/recent_film.h"
#include "runner/report_recorder.h"

namespace quillon::runner {
namespace {

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Text from the scenario, the device and the frames, in every place the
// report shows it, never becomes markup: the report's own script is its only
// one.
TEST(HtmlReport, HostileTextIsEscapedEverywhere)
{
    const std::string hostile = "<script>alert(\"x\")</script>&'";
    RunFacts run;
    run.commandLine = {"quillon-run", "--scenario", hostile};
    run.statusWords = "a step failed";
    run.status = 1;
    run.deviceLog = "The device's output is in " + hostile;
    run.deviceLogTail = {hostile, "bad \xff byte"};
    run.notWritten = {hostile};
    ScenarioResult result;
    result.name = hostile;
    result.file = hostile + ".yaml";
    result.outcome = Outcome::Failed;
    result.failedStep = 1;
    result.message = hostile;
    StepRecord step;
    step.number = 1;
    step.label = "wait-text \"" + hostile + "\"";
    step.failure = hostile;
    TraceRow row;
    row.name = "WRITE STRING";
    row.meaning = hostile;
    row.error = hostile;
    step.rows = {row};
    step.nearest = hostile;
    ScenarioRecord record;
    record.name = hostile;
    record.file = hostile;
    record.steps = {step};
    const std::string html = HtmlReport(run, {result}, {record});
    EXPECT_EQ(Count(html, "<script"), 1U);
    EXPECT_EQ(Count(html, "alert(\"x\")"), 0U);
    EXPECT_GE(Count(html, "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;&#39;"), 9U);
    EXPECT_NE(html.find("bad \xEF\xBF\xBD byte"), std::string::npos);
}

TEST(HtmlReport, BadUtf8BytesAreReplacedEachByOne)
{
    const std::string kReplacement = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"42\xC2\xB0"
         "C \xE2\x86\x91",
         "42\xC2\xB0"
         "C \xE2\x86\x91"},
        {"a\xff"
         "b",
         "a" + kReplacement + "b"},
        // An overlong '/', a lone continuation byte, a sequence cut short, a
        // surrogate.
        {"\xC0\xAF", kReplacement + kReplacement},
        {"\x80", kReplacement},
        {"x\xE2\x86", "x" + kReplacement + kReplacement},
        {"\xED\xA0\x80", kReplacement + kReplacement + kReplacement},
    };
    for (const auto& [given, shown] : cases) {
        EXPECT_EQ(ValidUtf8(given), shown) << given;
    }
}

TEST(HtmlReport, SecretValuesAreHidden)
{
    const std::vector<std::string> given = {"quillon-run", "--http-token", "abc",         "--api-key=xyz",    "--demo",
                                            "--password",  "--scenario",   "tokens.yaml", "--client-secret=s"};
    const std::vector<std::string> shown = {"quillon-run",        "--http-token", "(hidden)",
                                            "--api-key=(hidden)", "--demo",       "--password",
                                            "(hidden)",           "tokens.yaml",  "--client-secret=(hidden)"};
    EXPECT_EQ(HideSecrets(given), shown);
}

TEST(HtmlReport, NearestTextIsTheRunClosestToTheWantedText)
{
    std::vector<TextRun> screen(3);
    screen[0].text = "MAIN MENU";
    screen[1].text = " Set point +42";
    screen[2].text = "Contrast 32";
    EXPECT_EQ(NearestText(screen, "Set pont"), " Set point +42");
    EXPECT_EQ(NearestText(screen, "MAIN MENUS"), "MAIN MENU");
    EXPECT_EQ(NearestText(screen, "zzzz"), "");
}

// Every attachment line names a file that is there; the failure names the
// scenario's file and line.
TEST(JUnit, AttachmentsNameOnlyFilesThatExist)
{
    const auto folder = std::filesystem::temp_directory_path() / "quillon-junit-attachments";
    std::filesystem::create_directories(folder);
    const std::string kept = (folder / "kept.diff.png").string();
    const std::string removed = (folder / "removed.png").string();
    std::ofstream(kept) << "png";
    std::filesystem::remove(removed);
    ScenarioResult result;
    result.name = "Menu";
    result.file = "menu.yaml";
    result.outcome = Outcome::Failed;
    result.failedLine = 7;
    result.message = "step 2/2 (line 7) wait-text";
    result.pictures = {kept, removed, kept};
    const std::string xml = JUnitReport({result}, 1.0, {}, {removed, kept});
    EXPECT_EQ(Count(xml, "[[ATTACHMENT|"), 1U) << xml;
    EXPECT_NE(xml.find("[[ATTACHMENT|" + kept + "]]"), std::string::npos);
    EXPECT_NE(xml.find("<failure message=\"menu.yaml:7: step 2/2 (line 7)"), std::string::npos);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace quillon::runner

namespace quillon::runner {
namespace {

// The delays of a GIF's frames, in hundredths of a second, added up.
int GifPlayingCs(const std::string& gif)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(gif.at(at)); };
    const auto skipBlocks = [&](std::size_t at) {
        while (byte(at) != 0) {
            at += byte(at) + 1U;
        }
        return at + 1;
    };
    std::size_t at = 13 + ((byte(10) & 0x80) != 0 ? 3U << ((byte(10) & 7) + 1) : 0);
    int cs = 0;
    while (byte(at) != 0x3B) {
        if (byte(at) == 0x21) {
            cs += byte(at + 1) == 0xF9 ? byte(at + 4) | byte(at + 5) << 8 : 0;
            at = skipBlocks(at + 2);
        } else {
            const std::size_t local = (byte(at + 9) & 0x80) != 0 ? 3U << ((byte(at + 9) & 7) + 1) : 0;
            at = skipBlocks(at + 10 + local + 1);
        }
    }
    return cs;
}

// The film the report holds plays the display's last half minute at least,
// and at most a minute, however long the run; its files go with it.
TEST(RecentFilm, HoldsTheLastHalfMinuteOrTheWholeRun)
{
    const auto folder = std::filesystem::temp_directory_path() / "quillon-recent-film";
    std::filesystem::create_directories(folder);
    for (const std::uint64_t runUs : {12'000'000ULL, 45'000'000ULL, 95'000'000ULL}) {
        DisplayMemory memory;
        std::string error;
        double seconds = 0;
        std::string gif;
        {
            RecentFilm film(memory, (folder / "r").string());
            ASSERT_TRUE(film.Start(0, error)) << error;
            for (std::uint64_t us = 250'000; us < runUs; us += 250'000) {
                const std::uint8_t ink = static_cast<std::uint8_t>(us / 250'000);
                memory.WriteRun(static_cast<std::uint8_t>(ink % 8), ink % 100, std::span(&ink, 1));
                film.Look(us);
            }
            gif = film.Finish(runUs, seconds);
        }
        const double wanted = std::min(static_cast<double>(runUs) / 1e6, 30.0);
        EXPECT_GE(seconds, wanted) << runUs;
        EXPECT_LE(seconds, 60.0) << runUs;
        EXPECT_EQ(gif.substr(0, 6), "GIF89a");
        EXPECT_NEAR(GifPlayingCs(gif), seconds * 100, 1) << runUs;
        EXPECT_TRUE(std::filesystem::is_empty(folder));
    }
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace quillon::runner
