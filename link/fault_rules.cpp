#include "link/fault_rules.h"

#include <array>
#include <charconv>
#include <cmath>
#include <random>
#include <vector>

namespace quillon {

namespace {

struct KindInfo {
    FaultKind kind;
    const char* name;
    // The keys it takes besides its trigger, and whether the first of them
    // must be given.
    std::vector<std::string_view> parameters;
    bool parameterRequired;
};

const std::array<KindInfo, 8>& Kinds()
{
    static const std::array<KindInfo, 8> kinds{{
        {FaultKind::DropReply, "drop-reply", {}, false},
        {FaultKind::CorruptReply, "corrupt-reply", {}, false},
        {FaultKind::DelayReply, "delay-reply", {"ms"}, true},
        {FaultKind::TruncateReply, "truncate-reply", {"keep"}, false},
        {FaultKind::DropByte, "drop-byte", {}, false},
        {FaultKind::FlipBit, "flip-bit", {"bit"}, false},
        {FaultKind::Unplug, "unplug", {"for"}, true},
        {FaultKind::HoldReply, "hold-reply", {"ms"}, true},
    }};
    return kinds;
}

const KindInfo& InfoOf(FaultKind kind)
{
    return Kinds()[static_cast<std::size_t>(kind)];
}

// The longest a reply is held back, a line is dead, or a rule waits.
constexpr std::uint32_t kLongestDelayMs = 60'000;
constexpr std::uint32_t kLongestUnplugMs = 3'600'000;
constexpr std::uint32_t kLongestWaitMs = 86'400'000;
// The longest reply is 12 bytes; keeping them all would be no fault.
constexpr std::uint32_t kMostKept = 11;

std::string KeysOf(const KindInfo& info)
{
    std::string keys;
    for (const std::string_view key : info.parameters) {
        keys.append(key).append("=, ");
    }
    return keys + (info.kind == FaultKind::Unplug ? "after=" : "every=, at= or p=");
}

std::optional<std::uint64_t> WholeNumber(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || failure != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> Decimal(std::string_view text)
{
    double value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || failure != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// "2s", "1.5s" or "500ms", up to highest. A number without its unit is
// refused: "for=2" is as likely meant as seconds as milliseconds.
std::optional<std::uint32_t> Milliseconds(std::string_view text, std::uint32_t highest)
{
    double scale = 1;
    if (text.ends_with("ms")) {
        text.remove_suffix(2);
    } else if (text.ends_with("s")) {
        text.remove_suffix(1);
        scale = 1000;
    } else {
        return std::nullopt;
    }
    const auto value = Decimal(text);
    if (!value || *value < 0 || text.front() == '+' || *value * scale > highest) {
        return std::nullopt;
    }
    const double ms = *value * scale;
    if (ms != std::floor(ms)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(ms);
}

// For a bare number: what was likely meant, "; for=2s or for=2ms?".
std::string UnitHint(std::string_view value)
{
    if (!Decimal(value) || value.front() == '-') {
        return {};
    }
    return " (" + std::string(value) + "s or " + std::string(value) + "ms?)";
}

std::string Quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

// Sets one key of rule from its text; an empty text when it was taken.
std::string TakeKey(FaultRule& rule, std::string_view key, std::string_view value)
{
    const std::string what = std::string(key) + "=" + std::string(value);
    if (key == "every" || key == "at") {
        const auto count = WholeNumber(value);
        if (!count || *count == 0 || *count > UINT32_MAX) {
            return what + ": " + std::string(key) + " needs a whole number of events from 1 to 4294967295";
        }
        rule.trigger = key == "every" ? FaultTrigger::Every : FaultTrigger::At;
        rule.count = static_cast<std::uint32_t>(*count);
    } else if (key == "p") {
        const auto chance = Decimal(value);
        if (!chance || !(*chance > 0 && *chance <= 1)) {
            return what + ": p needs a chance above 0 and at most 1, such as 0.05";
        }
        rule.trigger = FaultTrigger::Chance;
        rule.chance = *chance;
    } else if (key == "after") {
        const auto ms = Milliseconds(value, kLongestWaitMs);
        if (!ms) {
            return what + ": after needs a time from 0 to a day with its unit, such as 10s or 500ms" + UnitHint(value);
        }
        rule.trigger = FaultTrigger::After;
        rule.afterMs = *ms;
    } else if (key == "ms") {
        const auto ms = WholeNumber(value);
        if (!ms || *ms == 0 || *ms > kLongestDelayMs) {
            return what + ": ms needs a whole number of milliseconds from 1 to " + std::to_string(kLongestDelayMs);
        }
        rule.ms = static_cast<std::uint32_t>(*ms);
    } else if (key == "for") {
        const auto ms = Milliseconds(value, kLongestUnplugMs);
        if (!ms || *ms == 0) {
            return what + ": for needs a time from 1 ms to an hour with its unit, such as 2s or 500ms" +
                   UnitHint(value);
        }
        rule.ms = *ms;
    } else if (key == "keep") {
        const auto keep = WholeNumber(value);
        if (!keep || *keep == 0 || *keep > kMostKept) {
            return what + ": keep needs a whole number of bytes from 1 to " + std::to_string(kMostKept);
        }
        rule.keep = static_cast<std::uint32_t>(*keep);
    } else if (key == "bit") {
        const auto bit = WholeNumber(value);
        if (!bit || *bit > 7) {
            return what + ": bit needs a bit number from 0 to 7";
        }
        rule.bit = static_cast<std::uint8_t>(*bit);
    }
    return {};
}

std::string ShortestDecimal(double value)
{
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

} // namespace

bool FaultRule::OnReplies() const
{
    return kind == FaultKind::DropReply || kind == FaultKind::CorruptReply || kind == FaultKind::DelayReply ||
           kind == FaultKind::TruncateReply;
}

const char* FaultKindName(FaultKind kind)
{
    return InfoOf(kind).name;
}

std::string FaultKindList()
{
    std::string list;
    for (const KindInfo& info : Kinds()) {
        list += list.empty() ? "" : ", ";
        list += info.name;
    }
    return list;
}

std::optional<FaultRule> ParseFaultRule(std::string_view written, std::string& error)
{
    if (written.size() > kMaxFaultRuleLength) {
        error = "a fault is at most " + std::to_string(kMaxFaultRuleLength) + " characters, this one has " +
                std::to_string(written.size());
        return std::nullopt;
    }
    const std::size_t colon = written.find(':');
    const std::string_view kindName = written.substr(0, colon);
    const KindInfo* info = nullptr;
    for (const KindInfo& candidate : Kinds()) {
        if (kindName == candidate.name) {
            info = &candidate;
        }
    }
    if (info == nullptr) {
        error = "no fault is called " + Quoted(kindName) + ": the kinds are " + FaultKindList();
        return std::nullopt;
    }
    FaultRule rule;
    rule.kind = info->kind;
    bool triggered = false;
    std::vector<std::string_view> given;
    std::string_view rest = colon == std::string_view::npos ? std::string_view() : written.substr(colon + 1);
    while (colon != std::string_view::npos) {
        const std::size_t comma = rest.find(',');
        const std::string_view pair = rest.substr(0, comma);
        const std::size_t equals = pair.find('=');
        const std::string_view key = pair.substr(0, equals);
        const bool trigger =
            info->kind == FaultKind::Unplug ? key == "after" : key == "every" || key == "at" || key == "p";
        bool parameter = false;
        for (const std::string_view known : info->parameters) {
            parameter = parameter || key == known;
        }
        if (equals == std::string_view::npos || (!trigger && !parameter)) {
            error = std::string(info->name) + ": " +
                    (equals == std::string_view::npos ? Quoted(pair) + " is not KEY=VALUE"
                                                      : "it takes no key " + Quoted(key)) +
                    "; it takes " + KeysOf(*info);
            return std::nullopt;
        }
        for (const std::string_view seen : given) {
            if (seen == key || (trigger && triggered)) {
                error = std::string(info->name) + ": " +
                        (seen == key ? Quoted(key) + " is given twice" : "give one trigger: every=, at= or p=");
                return std::nullopt;
            }
        }
        given.push_back(key);
        triggered = triggered || trigger;
        if (std::string problem = TakeKey(rule, key, pair.substr(equals + 1)); !problem.empty()) {
            error = std::string(info->name) + ": " + problem;
            return std::nullopt;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest = rest.substr(comma + 1);
    }
    if (info->parameterRequired && rule.ms == 0) {
        error = std::string(info->name) + " needs " + std::string(info->parameters.front()) + "=";
        return std::nullopt;
    }
    if (info->kind == FaultKind::Unplug) {
        rule.trigger = FaultTrigger::After;
    } else if (!triggered) {
        error = std::string(info->name) + " needs a trigger: every=N, at=N or p=CHANCE";
        return std::nullopt;
    }
    return rule;
}

std::optional<FaultRule> ParseFaultFields(std::string_view kind,
                                          const std::vector<std::pair<std::string, std::string>>& keys,
                                          std::string& error)
{
    std::string written(kind);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto& [key, value] = keys[i];
        // Each value stands alone: a comma or an equals sign in it would
        // give keys nobody wrote.
        if (value.find_first_of(",=:") != std::string::npos) {
            error = std::string(kind) + ": " + key + " " + Quoted(value) + " is not a value";
            return std::nullopt;
        }
        written += (i == 0 ? ":" : ",") + key + "=" + value;
    }
    return ParseFaultRule(written, error);
}

std::string FaultRuleText(const FaultRule& rule)
{
    std::string text = std::string(FaultKindName(rule.kind)) + ":";
    switch (rule.kind) {
    case FaultKind::DelayReply:
    case FaultKind::HoldReply:
        text += "ms=" + std::to_string(rule.ms) + ",";
        break;
    case FaultKind::TruncateReply:
        text += rule.keep != 0 ? "keep=" + std::to_string(rule.keep) + "," : "";
        break;
    case FaultKind::FlipBit:
        text += "bit=" + std::to_string(rule.bit) + ",";
        break;
    case FaultKind::Unplug:
        return text + "for=" + std::to_string(rule.ms) + "ms,after=" + std::to_string(rule.afterMs) + "ms";
    default:
        break;
    }
    switch (rule.trigger) {
    case FaultTrigger::Every:
        return text + "every=" + std::to_string(rule.count);
    case FaultTrigger::At:
        return text + "at=" + std::to_string(rule.count);
    case FaultTrigger::Chance:
        return text + "p=" + ShortestDecimal(rule.chance);
    case FaultTrigger::After:
        break;
    }
    return text + "after=" + std::to_string(rule.afterMs) + "ms";
}

bool DrawsAtRandom(const std::vector<FaultRule>& rules)
{
    for (const FaultRule& rule : rules) {
        if (rule.trigger == FaultTrigger::Chance) {
            return true;
        }
    }
    return false;
}

std::uint64_t NewFaultSeed()
{
    std::random_device entropy;
    return (std::uint64_t{entropy()} << 32) | entropy();
}

std::string FaultRuleWords(std::string_view ruleText)
{
    std::string words;
    for (const char c : ruleText) {
        if (c == ':' || c == '=') {
            words += ' ';
        } else if (c == ',') {
            words += ", ";
        } else {
            words += c;
        }
    }
    return words;
}

} // namespace quillon
