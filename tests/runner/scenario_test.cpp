#include "runner/scenario.h"

#include <gtest/gtest.h>

#include "protocol/protocol.h"

namespace quillon::runner {
namespace {

std::optional<Scenario> Parse(const std::string& text, std::string& error)
{
    return ParseScenario(text, "s.yaml", "", false, error);
}

TEST(Scenario, EveryStepWithItsOptions)
{
    std::string error;
    const auto scenario = Parse(R"(name: All
steps:
  - delay: 1.5s
  - press: up
    hold: 200ms
  - release
  - click: left
  - wait-text: "42°C"
    timeout: 2s
    inverse: true
  - expect-text: MENU
  - expect-no-text: ERROR
  - wait-frame: {name: write string}
  - wait-frame: {code: 11}
    timeout: 100ms
  - expect-screen: golden.txt
    region: {x: 8, y: 8, width: 16, height: 4}
  - screenshot: shot.png
    scale: 4
  - expect-no-errors
)",
                                error);
    ASSERT_TRUE(scenario) << error;
    EXPECT_EQ(scenario->name, "All");
    const auto& steps = scenario->steps;
    ASSERT_EQ(steps.size(), 12u);
    EXPECT_EQ(steps[0].durationMs, 1500u);
    EXPECT_EQ(steps[1].key, kKeyUp);
    EXPECT_EQ(steps[1].durationMs, 200u);
    EXPECT_EQ(steps[2].kind, StepKind::Release);
    EXPECT_EQ(steps[3].key, kKeyLeft);
    EXPECT_EQ(steps[4].text, std::string("42\x0B"
                                         "C"));
    EXPECT_EQ(steps[4].timeoutMs, 2000u);
    EXPECT_TRUE(steps[4].inverse);
    EXPECT_EQ(steps[5].timeoutMs, kDefaultWaitTimeoutMs);
    EXPECT_EQ(steps[6].kind, StepKind::ExpectNoText);
    EXPECT_EQ(steps[7].frameCode, kWriteString);
    EXPECT_EQ(steps[8].frameCode, kDrawIcon);
    EXPECT_EQ(steps[8].timeoutMs, 100u);
    EXPECT_EQ(steps[9].region.x, 8);
    EXPECT_EQ(steps[9].region.height, 4);
    EXPECT_EQ(steps[10].scale, 4);
    EXPECT_EQ(steps[11].kind, StepKind::ExpectNoErrors);
    EXPECT_EQ(steps[11].line, 20);
}

TEST(Scenario, BadFilesAreRefusedWithTheLineAndTheReason)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"steps: [wait-text: \"A\"", "s.yaml:1: not valid YAML"},
        {"- just a list", "s.yaml:1: a scenario is a mapping"},
        {"name: x\n", "s.yaml:1: the scenario has no steps"},
        {"name: x\nsteps: []\n", "s.yaml:2: steps is a list of at least one step"},
        {"name: x\nrepeat: 3\nsteps: [release]\n", "s.yaml:2: \"repeat\" is not a scenario key"},
        {"steps:\n  - jump: 3\n", "s.yaml:2: a step needs one of delay, press"},
        {"steps:\n  - dance\n", "s.yaml:2: \"dance\" is not a step"},
        {"steps:\n  - delay: 500\n", "s.yaml:2: delay \"500\" is not a duration such as 500ms or 2s"},
        {"steps:\n  - delay: [1s]\n", "s.yaml:2: delay must be a single value"},
        {"steps:\n  - press: sideways\n", "s.yaml:2: press \"sideways\" is not a key"},
        {"steps:\n  - press: up\n    timeout: 1s\n", "s.yaml:3: \"timeout\" is not something press takes"},
        {"steps:\n  - click: up\n    press: down\n", "s.yaml:3: one step may do one thing"},
        {"steps:\n  - wait-text: \"\u20AC 5\"\n", "s.yaml:2: wait-text \"\u20AC 5\" has a character the panel's font"},
        // Saved in a Windows code page instead of UTF-8: a Latin-1 degree sign,
        // an "ä" followed by a letter, a character cut short at the end.
        {"name: x\nsteps:\n  - wait-text: \"42\xB0"
         "C\"\n",
         "s.yaml:3: the file is not UTF-8: save it as UTF-8"},
        {"name: M\xE4rz\nsteps: [release]\n", "s.yaml:1: the file is not UTF-8: save it as UTF-8"},
        {"steps:\n  - wait-text: \"\xE2\x86", "s.yaml:2: the file is not UTF-8"},
        {"steps:\n  - wait-text: \"\xC0\xAF\"\n", "s.yaml:2: the file is not UTF-8"},
        {"steps:\n  - wait-text: \"A\"\n    inverse: maybe\n", "s.yaml:3: inverse \"maybe\" is neither true nor false"},
        {"steps:\n  - wait-frame: {name: FLY}\n", "s.yaml:2: \"FLY\" is not the name of a function code"},
        {"steps:\n  - wait-frame: {code: 12}\n", "s.yaml:2: function code 12 is not assigned"},
        {"steps:\n  - wait-frame: {code: 15}\n",
         "s.yaml:2: the frame's code \"15\" is not a whole number from 1 to 14"},
        {"steps:\n  - expect-screen: a.bmp\n", "s.yaml:2: a golden picture is a .png or a .txt"},
        {"steps:\n  - expect-screen: a.txt\n    region: {x: 120, y: 0, width: 16, height: 8}\n",
         "s.yaml:3: region must lie within the 128 x 64 display"},
        {"steps:\n  - screenshot: a.png\n    scale: 0\n", "s.yaml:3: scale \"0\" is not a whole number from 1 to 16"},
        {"steps:\n  - release: now\n", "s.yaml:2: release takes no value"},
        // What was written is named, with the nearest name when it is close.
        {"steps:\n  - wait-txt: \"A\"\n",
         "s.yaml:2: a step needs one of delay, press, release, click, wait-text, expect-text, expect-no-text, "
         "wait-frame, expect-screen, screenshot, expect-no-errors, fault; \"wait-txt\" is none of them (did you mean "
         "wait-text?)"},
        {"steps:\n  - relase\n", "\"relase\" is not a step; steps are delay, press"},
        {"steps:\n  - relase\n", "expect-no-errors, fault (did you mean release?)"},
        {"steps:\n  - click: rigth\n", "click \"rigth\" is not a key: up, down, left or right (did you mean right?)"},
        {"steps:\n  - wait-text: A\n    timeot: 1s\n",
         "\"timeot\" is not something wait-text takes (did you mean timeout?)"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << "\ngave: " << error;
    }
    // Nothing is suggested for a word close to no name.
    std::string error;
    EXPECT_FALSE(Parse("steps:\n  - click: enter\n", error));
    EXPECT_EQ(error, "s.yaml:2: click \"enter\" is not a key: up, down, left or right");
}

TEST(Scenario, DurationsNeedTheirUnit)
{
    EXPECT_EQ(ParseDuration("500ms"), 500u);
    EXPECT_EQ(ParseDuration("2s"), 2000u);
    EXPECT_EQ(ParseDuration("0.25s"), 250u);
    for (const char* bad : {"500", "ms", "1.s", ".5s", "-1s", "1h", "1..5s", "99999999s"}) {
        EXPECT_FALSE(ParseDuration(bad)) << bad;
    }
}

} // namespace
} // namespace quillon::runner
