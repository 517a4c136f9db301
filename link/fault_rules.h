#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/link_events.h"

namespace quillon {

// The longest fault rule a user may write.
inline constexpr std::size_t kMaxFaultRuleLength = 256;

// When a fault strikes. Every, At and Chance count the events of the fault's
// kind (the panel's writes for the reply faults, the device's bytes for the
// byte faults, the blocks the panel completes for hold-reply) from the
// moment the rule was given; After is a time from then.
enum class FaultTrigger : std::uint8_t { Every, At, Chance, After };

// One fault asked for: "drop-reply:every=3", "delay-reply:ms=300,p=0.05",
// "unplug:for=2s,after=10s".
struct FaultRule {
    FaultKind kind = FaultKind::DropReply;
    FaultTrigger trigger = FaultTrigger::Every;
    // Every and At: the event's number, 1 or more.
    std::uint32_t count = 0;
    // Chance: the chance for each event, above 0 and at most 1.
    double chance = 0;
    // After: milliseconds from the moment the rule was given.
    std::uint32_t afterMs = 0;
    // delay-reply: how late a reply leaves; hold-reply: how long the panel
    // holds a complete block; unplug: how long the line is dead.
    // Milliseconds.
    std::uint32_t ms = 0;
    // truncate-reply: the bytes sent (fewer when the reply is shorter); 0
    // sends the first half.
    std::uint32_t keep = 0;
    // flip-bit: the bit changed, 0 to 7.
    std::uint8_t bit = 0;

    bool OnReplies() const;
    bool OnBytes() const { return kind == FaultKind::DropByte || kind == FaultKind::FlipBit; }
};

// "drop-reply", "flip-bit", ...
const char* FaultKindName(FaultKind kind);
// Every kind, for messages: "drop-reply, corrupt-reply, ...".
std::string FaultKindList();

// Reads "KIND[:KEY=VALUE[,KEY=VALUE]...]". Anything else yields nothing and
// error says what was wrong and what is taken.
std::optional<FaultRule> ParseFaultRule(std::string_view written, std::string& error);
// The same from a kind and its keys given one by one, as a scenario's
// mapping or a control request's fields give them, the values as text.
std::optional<FaultRule> ParseFaultFields(std::string_view kind,
                                          const std::vector<std::pair<std::string, std::string>>& keys,
                                          std::string& error);
// The rule as ParseFaultRule reads it, its keys in a fixed order:
// "delay-reply:ms=300,p=0.05". At most 47 characters.
std::string FaultRuleText(const FaultRule& rule);
// Whether a rule draws at random, so that its run is repeated only with the
// seed it had.
bool DrawsAtRandom(const std::vector<FaultRule>& rules);
// A seed for a run that was given none.
std::uint64_t NewFaultSeed();

// The rule in words for a log: "drop-reply every 3", "delay-reply ms 300, p 0.05".
std::string FaultRuleWords(std::string_view ruleText);

} // namespace quillon
