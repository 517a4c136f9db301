#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quillon {

// A JSON value, as the control socket reads and writes them. Objects keep
// their members in the order they were added, so replies read naturally.
using Json = nlohmann::ordered_json;

// Parses one JSON text (RFC 8259, UTF-8) that must fill the whole input apart
// from white space. Whole numbers read as integers, whatever their spelling
// (1e3 is 1000). On failure, nothing and the reason with the byte offset of
// the token it concerns.
std::optional<Json> ParseJson(std::string_view text, std::string& error);

// Compact, on one line; bytes that are not UTF-8 are written as U+FFFD.
std::string DumpJson(const Json& value);

// A number as the socket writes it: a whole number without a fraction.
Json JsonNumber(double value);

std::string Base64(std::string_view bytes);

} // namespace quillon
