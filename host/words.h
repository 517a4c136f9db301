#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Durations and keys as people write them, in scenario files and control
// requests alike.

// "500ms", "2s", "1.5s": a number with its unit. Nothing when it is not one.
std::optional<std::uint32_t> ParseDuration(std::string_view text);
// "up", "down", "left", "right": the key's status bit, or 0.
std::uint8_t KeyBit(std::string_view name);
std::string_view KeyName(std::uint8_t bit);
// " (did you mean NAME?)" for the name closest to a misspelt word (at most
// two letters off), or nothing.
std::string Suggestion(std::string_view written, const std::vector<std::string_view>& names);
// The same among the key names.
std::string KeySuggestion(std::string_view written);

// How long a wait for the screen or a click waits unless told.
inline constexpr std::uint32_t kDefaultWaitTimeoutMs = 5000;

} // namespace quillon
