#include "runner/scenario.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <yaml-cpp/yaml.h>

#include "display/screen_reader.h"
#include "protocol/protocol.h"

namespace quillon::runner {

namespace {

constexpr int kLargestScale = 16;

// A step refused, with the line it stands on.
struct Refusal {
    int line;
    std::string reason;
};

int LineOf(const YAML::Node& node)
{
    return node.Mark().line + 1;
}

[[noreturn]] void Refuse(const YAML::Node& node, std::string reason)
{
    throw Refusal{LineOf(node), std::move(reason)};
}

std::string Scalar(const YAML::Node& node, const std::string& what)
{
    if (!node.IsScalar()) {
        Refuse(node, what + " must be a single value");
    }
    return node.Scalar();
}

std::uint32_t Duration(const YAML::Node& node, const std::string& what)
{
    const auto value = ParseDuration(Scalar(node, what));
    if (!value) {
        Refuse(node, what + " \"" + node.Scalar() + "\" is not a duration such as 500ms or 2s (the unit is needed)");
    }
    return *value;
}

int Integer(const YAML::Node& node, const std::string& what, int low, int high)
{
    const std::string text = Scalar(node, what);
    int value = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        Refuse(node, what + " \"" + text + "\" is not a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    }
    return value;
}

bool Boolean(const YAML::Node& node, const std::string& what)
{
    const std::string text = Scalar(node, what);
    if (text == "true" || text == "yes") {
        return true;
    }
    if (text == "false" || text == "no") {
        return false;
    }
    Refuse(node, what + " \"" + text + "\" is neither true nor false");
}

std::uint8_t Key(const YAML::Node& node, const std::string& action)
{
    const std::uint8_t bit = KeyBit(Scalar(node, action));
    if (bit == 0) {
        Refuse(node, action + " \"" + node.Scalar() + "\" is not a key: up, down, left or right" +
                         KeySuggestion(node.Scalar()));
    }
    return bit;
}

std::string PanelText(const YAML::Node& node, const std::string& action)
{
    const std::string text = Scalar(node, action);
    const auto panel = Utf8ToPanelText(text);
    if (text.empty()) {
        Refuse(node, action + " needs a text");
    }
    if (!panel) {
        Refuse(node, action + " \"" + text + "\" has a character the panel's font does not have");
    }
    return *panel;
}

// The 1-based line of the first byte that is not part of a UTF-8 character,
// none when the text is UTF-8 through. A text that begins with the byte order
// mark of UTF-16 or UTF-32 is left to the YAML reader, which reads those.
std::optional<int> FirstLineNotUtf8(std::string_view text)
{
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") || text.starts_with(std::string_view("\0\0", 2))) {
        return std::nullopt;
    }
    int line = 1;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t lowest = 0;
        char32_t code = byte;
        if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            lowest = 0x10000;
            code = byte & 0x07U;
        } else if (byte >= 0xE0 && byte < 0xF0) {
            length = 3;
            lowest = 0x800;
            code = byte & 0x0FU;
        } else if (byte >= 0xC2 && byte < 0xE0) {
            length = 2;
            lowest = 0x80;
            code = byte & 0x1FU;
        } else if (byte >= 0x80) {
            return line;
        }
        if (length > text.size() - i) {
            return line;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0U) != 0x80) {
                return line;
            }
            code = (code << 6) | (next & 0x3FU);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return line;
        }
        if (byte == '\n') {
            ++line;
        }
        i += length;
    }
    return std::nullopt;
}

std::uint8_t FrameCode(const YAML::Node& node)
{
    const auto byName = [&](const YAML::Node& name) {
        std::string wanted = Scalar(name, "the frame's name");
        std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        for (std::uint8_t code = 1; code <= kHighestFunctionCode; ++code) {
            if (!FunctionName(code).empty() && FunctionName(code) == wanted) {
                return code;
            }
        }
        Refuse(name, "\"" + name.Scalar() + "\" is not the name of a function code, such as WRITE STRING");
    };
    if (node.IsScalar()) {
        return byName(node);
    }
    if (!node.IsMap() || node.size() != 1) {
        Refuse(node, "wait-frame takes {name: NAME} or {code: N}");
    }
    const auto entry = node.begin();
    const std::string key = entry->first.Scalar();
    if (key == "name") {
        return byName(entry->second);
    }
    if (key == "code") {
        const auto code =
            static_cast<std::uint8_t>(Integer(entry->second, "the frame's code", 1, kHighestFunctionCode));
        if (FunctionName(code).empty()) {
            Refuse(entry->second, "function code " + std::to_string(code) + " is not assigned");
        }
        return code;
    }
    Refuse(entry->first, "wait-frame takes {name: NAME} or {code: N}, not " + key);
}

// "clear", a rule as the command line writes it, or its keys as a mapping:
// {kind: drop-reply, every: 3}.
std::optional<FaultRule> Fault(const YAML::Node& node)
{
    std::string error;
    if (node.IsScalar()) {
        if (node.Scalar() == "clear") {
            return std::nullopt;
        }
        if (auto rule = ParseFaultRule(node.Scalar(), error)) {
            return rule;
        }
        Refuse(node, "fault " + error);
    }
    if (!node.IsMap() || !node["kind"]) {
        Refuse(node, "fault takes clear, a rule such as drop-reply:every=3, or {kind: drop-reply, every: 3}");
    }
    std::vector<std::pair<std::string, std::string>> keys;
    for (const auto& entry : node) {
        if (entry.first.Scalar() != "kind") {
            keys.emplace_back(entry.first.Scalar(), Scalar(entry.second, entry.first.Scalar()));
        }
    }
    auto rule = ParseFaultFields(Scalar(node["kind"], "kind"), keys, error);
    if (!rule) {
        Refuse(node, "fault " + error);
    }
    return rule;
}

Region RegionOf(const YAML::Node& node)
{
    if (!node.IsMap()) {
        Refuse(node, "region takes {x: X, y: Y, width: W, height: H}");
    }
    Region region;
    for (const auto& entry : node) {
        const std::string key = entry.first.Scalar();
        int* field = key == "x"        ? &region.x
                     : key == "y"      ? &region.y
                     : key == "width"  ? &region.width
                     : key == "height" ? &region.height
                                       : nullptr;
        if (field == nullptr) {
            Refuse(entry.first, "region has x, y, width and height, not " + key);
        }
        *field = Integer(entry.second, "region's " + key, 0, kDisplayWidth);
    }
    if (region.width <= 0 || region.height <= 0 || region.x + region.width > kDisplayWidth ||
        region.y + region.height > kDisplayHeight) {
        Refuse(node, "region must lie within the 128 x 64 display and not be empty");
    }
    return region;
}

struct Action {
    std::string_view name;
    StepKind kind;
    bool takesValue;
    std::vector<std::string_view> modifiers;
};

const std::vector<Action>& Actions()
{
    static const std::vector<Action> actions{
        {"delay", StepKind::Delay, true, {}},
        {"press", StepKind::Press, true, {"hold"}},
        {"release", StepKind::Release, false, {}},
        {"click", StepKind::Click, true, {}},
        {"wait-text", StepKind::WaitText, true, {"timeout", "inverse"}},
        {"expect-text", StepKind::ExpectText, true, {"inverse"}},
        {"expect-no-text", StepKind::ExpectNoText, true, {"inverse"}},
        {"wait-frame", StepKind::WaitFrame, true, {"timeout"}},
        {"expect-screen", StepKind::ExpectScreen, true, {"region"}},
        {"screenshot", StepKind::Screenshot, true, {"scale"}},
        {"expect-no-errors", StepKind::ExpectNoErrors, false, {}},
        {"fault", StepKind::Fault, true, {}},
    };
    return actions;
}

std::string ActionNames()
{
    std::string names;
    for (const Action& action : Actions()) {
        names += (names.empty() ? "" : ", ") + std::string(action.name);
    }
    return names;
}

std::string ActionSuggestion(std::string_view written)
{
    std::vector<std::string_view> names;
    for (const Action& action : Actions()) {
        names.push_back(action.name);
    }
    return Suggestion(written, names);
}

const Action* FindAction(std::string_view name)
{
    const auto& actions = Actions();
    const auto found = std::find_if(actions.begin(), actions.end(), [&](const Action& a) { return a.name == name; });
    return found == actions.end() ? nullptr : &*found;
}

std::string Resolve(const std::string& folder, const std::string& path)
{
    return path.starts_with('/') || folder.empty() ? path : folder + "/" + path;
}

// The step's action and, when it takes one, its value: a name alone, or the
// one key of a mapping that names an action.
std::pair<const Action*, YAML::Node> FindStepAction(const YAML::Node& node)
{
    const Action* action = nullptr;
    YAML::Node value;
    if (node.IsScalar()) {
        action = FindAction(node.Scalar());
        if (action == nullptr) {
            Refuse(node, "\"" + node.Scalar() + "\" is not a step; steps are " + ActionNames() +
                             ActionSuggestion(node.Scalar()));
        }
        if (action->takesValue) {
            Refuse(node, std::string(action->name) + " needs a value");
        }
    } else if (node.IsMap()) {
        for (const auto& entry : node) {
            const Action* found = FindAction(entry.first.Scalar());
            if (found != nullptr && action != nullptr) {
                Refuse(entry.first, "one step may do one thing; put " + entry.first.Scalar() + " in a step of its own");
            }
            if (found != nullptr) {
                action = found;
                value = entry.second;
            }
        }
        if (action == nullptr) {
            // Name what was written: the first key, which is most likely the
            // misspelt step.
            const std::string written = node.size() > 0 ? node.begin()->first.Scalar() : std::string();
            Refuse(node, "a step needs one of " + ActionNames() + "; \"" + written + "\" is none of them" +
                             ActionSuggestion(written));
        }
    } else {
        Refuse(node, "a step is a name or a mapping, such as wait-text: \"MAIN MENU\"");
    }
    return {action, value};
}

// What the action's value says, such as the key of press or the text of
// wait-text.
void ReadValue(Step& step, const Action& action, const YAML::Node& value)
{
    const std::string name(action.name);
    switch (action.kind) {
    case StepKind::Delay:
        step.durationMs = Duration(value, name);
        break;
    case StepKind::Press:
    case StepKind::Click:
        step.key = Key(value, name);
        break;
    case StepKind::Release:
    case StepKind::ExpectNoErrors:
        if (value && !value.IsNull()) {
            Refuse(value, name + " takes no value");
        }
        break;
    case StepKind::WaitText:
    case StepKind::ExpectText:
    case StepKind::ExpectNoText:
        step.text = PanelText(value, name);
        step.label = name + " \"" + value.Scalar() + "\"";
        step.timeoutMs = kDefaultWaitTimeoutMs;
        break;
    case StepKind::WaitFrame:
        step.frameCode = FrameCode(value);
        step.label = name + " " + std::string(FunctionName(step.frameCode));
        step.timeoutMs = kDefaultWaitTimeoutMs;
        break;
    case StepKind::Fault:
        step.fault = Fault(value);
        step.label = name + " " + (step.fault ? FaultRuleText(*step.fault) : "clear");
        break;
    case StepKind::ExpectScreen:
    case StepKind::Screenshot:
        step.path = Scalar(value, name);
        if (step.path.empty()) {
            Refuse(value, name + " needs a file name");
        }
        if (action.kind == StepKind::ExpectScreen && !IsGoldenName(step.path)) {
            Refuse(value, "a golden picture is a .png or a .txt (text art) file, not " + step.path);
        }
        break;
    }
}

// The keys besides the action's own, such as timeout or inverse.
void ReadModifiers(Step& step, const Action& action, const YAML::Node& node)
{
    if (!node.IsMap()) {
        return;
    }
    const std::string name(action.name);
    for (const auto& entry : node) {
        const std::string key = entry.first.Scalar();
        if (key == action.name) {
            continue;
        }
        if (std::find(action.modifiers.begin(), action.modifiers.end(), key) == action.modifiers.end()) {
            Refuse(entry.first,
                   "\"" + key + "\" is not something " + name + " takes" + Suggestion(key, action.modifiers));
        }
        if (key == "hold") {
            step.durationMs = Duration(entry.second, key);
        } else if (key == "timeout") {
            step.timeoutMs = Duration(entry.second, key);
        } else if (key == "inverse") {
            step.inverse = Boolean(entry.second, key);
        } else if (key == "region") {
            step.region = RegionOf(entry.second);
        } else if (key == "scale") {
            step.scale = Integer(entry.second, key, 1, kLargestScale);
        }
    }
}

void ReadGolden(Step& step, const YAML::Node& value, const std::string& folder)
{
    std::string error;
    const std::string path = Resolve(folder, step.path);
    step.golden = LoadGolden(path, error);
    if (!step.golden) {
        std::error_code ignored;
        Refuse(value,
               std::filesystem::exists(path, ignored) ? error : error + "; --update-goldens writes it from the screen");
    }
}

Step ParseStep(const YAML::Node& node, const std::string& folder, bool readGoldens)
{
    const auto [action, value] = FindStepAction(node);
    Step step;
    step.kind = action->kind;
    step.line = LineOf(node);
    step.label = std::string(action->name);
    if (value && value.IsScalar()) {
        step.label += " " + value.Scalar();
    }
    ReadValue(step, *action, value);
    ReadModifiers(step, *action, node);
    if (action->kind == StepKind::ExpectScreen && readGoldens) {
        ReadGolden(step, value, folder);
    }
    return step;
}

std::string FileStem(const std::string& fileName)
{
    const auto slash = fileName.find_last_of('/');
    std::string stem = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = stem.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? stem : stem.substr(0, dot);
}

} // namespace

std::optional<Scenario> ParseScenario(std::string_view text, const std::string& fileName, const std::string& folder,
                                      bool readGoldens, std::string& error)
{
    if (const auto line = FirstLineNotUtf8(text)) {
        error = fileName + ":" + std::to_string(*line) + ": the file is not UTF-8: save it as UTF-8";
        return std::nullopt;
    }
    try {
        const YAML::Node root = YAML::Load(std::string(text));
        if (!root.IsMap()) {
            Refuse(root, "a scenario is a mapping with a name and a list of steps");
        }
        Scenario scenario{FileStem(fileName), fileName, {}};
        bool hasSteps = false;
        for (const auto& entry : root) {
            const std::string key = entry.first.Scalar();
            if (key == "name") {
                scenario.name = Scalar(entry.second, "name");
            } else if (key == "steps") {
                if (!entry.second.IsSequence() || entry.second.size() == 0) {
                    Refuse(entry.second, "steps is a list of at least one step");
                }
                for (const auto& step : entry.second) {
                    scenario.steps.push_back(ParseStep(step, folder, readGoldens));
                }
                hasSteps = true;
            } else {
                Refuse(entry.first, "\"" + key + "\" is not a scenario key; a scenario has name and steps");
            }
        }
        if (!hasSteps) {
            Refuse(root, "the scenario has no steps");
        }
        return scenario;
    } catch (const Refusal& refusal) {
        error = fileName + ":" + std::to_string(refusal.line) + ": " + refusal.reason;
    } catch (const YAML::Exception& problem) {
        error = fileName + ":" + std::to_string(problem.mark.line + 1) + ": not valid YAML: " + problem.msg;
    }
    return std::nullopt;
}

std::optional<Scenario> LoadScenario(const std::string& path, bool updatingGoldens, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot read the scenario file";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string{} : path.substr(0, slash);
    return ParseScenario(text.str(), path, folder, !updatingGoldens, error);
}

} // namespace quillon::runner
