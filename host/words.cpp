#include "host/words.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "protocol/protocol.h"

namespace quillon {

std::optional<std::uint32_t> ParseDuration(std::string_view text)
{
    double scale = 0;
    if (text.ends_with("ms")) {
        scale = 1;
        text.remove_suffix(2);
    } else if (text.ends_with("s")) {
        scale = 1000;
        text.remove_suffix(1);
    } else {
        return std::nullopt;
    }
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; }) ||
        std::count(text.begin(), text.end(), '.') > 1 || text.front() == '.' || text.back() == '.') {
        return std::nullopt;
    }
    const double value = std::stod(std::string(text)) * scale;
    // A day is far longer than any test should wait.
    if (value > 86'400'000.0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(std::lround(value));
}

std::uint8_t KeyBit(std::string_view name)
{
    if (name == "up") {
        return kKeyUp;
    }
    if (name == "down") {
        return kKeyDown;
    }
    if (name == "left") {
        return kKeyLeft;
    }
    if (name == "right") {
        return kKeyRight;
    }
    return 0;
}

std::string_view KeyName(std::uint8_t bit)
{
    switch (bit) {
    case kKeyUp:
        return "up";
    case kKeyDown:
        return "down";
    case kKeyLeft:
        return "left";
    case kKeyRight:
        return "right";
    case 0:
        return "none";
    default:
        return "?";
    }
}

std::string Suggestion(std::string_view written, const std::vector<std::string_view>& names)
{
    // The edit distance (letters inserted, removed or changed), row by row.
    const auto distance = [&](std::string_view name) {
        std::vector<std::size_t> row(name.size() + 1);
        for (std::size_t j = 0; j < row.size(); ++j) {
            row[j] = j;
        }
        for (std::size_t i = 1; i <= written.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= name.size(); ++j) {
                const std::size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (written[i - 1] == name[j - 1] ? 0 : 1)});
                diagonal = above;
            }
        }
        return row.back();
    };
    constexpr std::size_t kMostLettersOff = 2;
    std::string_view best;
    std::size_t bestDistance = kMostLettersOff + 1;
    for (const std::string_view name : names) {
        const std::size_t d = distance(name);
        if (d < bestDistance && d < name.size()) {
            best = name;
            bestDistance = d;
        }
    }
    return best.empty() ? std::string() : " (did you mean " + std::string(best) + "?)";
}

std::string KeySuggestion(std::string_view written)
{
    return Suggestion(written, {"up", "down", "left", "right"});
}

} // namespace quillon
