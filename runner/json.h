#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quillon::runner {

// A JSON value, as the control socket reads and writes them. Objects keep
// their members in the order they were added, so replies read naturally.
class Json {
public:
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::string, Json>>;

    Json() = default;
    Json(std::nullptr_t) {}
    Json(bool value) : value_(value) {}
    Json(int value) : value_(static_cast<double>(value)) {}
    Json(unsigned value) : value_(static_cast<double>(value)) {}
    Json(long value) : value_(static_cast<double>(value)) {}
    Json(unsigned long value) : value_(static_cast<double>(value)) {}
    Json(long long value) : value_(static_cast<double>(value)) {}
    Json(unsigned long long value) : value_(static_cast<double>(value)) {}
    Json(double value) : value_(value) {}
    Json(const char* value) : value_(std::string(value)) {}
    Json(std::string value) : value_(std::move(value)) {}
    Json(std::string_view value) : value_(std::string(value)) {}
    Json(Array value) : value_(std::move(value)) {}
    Json(Object value) : value_(std::move(value)) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(value_); }
    const bool* boolean() const { return std::get_if<bool>(&value_); }
    const double* number() const { return std::get_if<double>(&value_); }
    const std::string* string() const { return std::get_if<std::string>(&value_); }
    const Array* array() const { return std::get_if<Array>(&value_); }
    const Object* object() const { return std::get_if<Object>(&value_); }

    // An object's member, or nullptr (also when this is no object).
    const Json* Find(std::string_view key) const;
    // Adds a member to an object (a null value becomes an empty object).
    Json& Set(std::string key, Json value);

    // Compact, on one line; strings as UTF-8 with control characters escaped.
    std::string Dump() const;

private:
    std::variant<std::monostate, bool, double, std::string, Array, Object> value_;
};

// Parses one JSON text (RFC 8259) that must fill the whole input apart from
// white space. On failure, nothing and the reason with its byte offset.
std::optional<Json> ParseJson(std::string_view text, std::string& error);

std::string Base64(std::string_view bytes);

} // namespace quillon::runner
