#include "host/json.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quillon {

namespace {

// Nesting deeper than this is refused: copying and writing a value recurse,
// so a hostile line must not nest without end.
constexpr int kMaxDepth = 64;
// Whole numbers up to this size are kept exactly as integers.
constexpr double kLargestWhole = 1e15;

// The library's reasons, told in the words the socket has always used.
std::string Reason(const std::string& what)
{
    static constexpr struct {
        const char* marker;
        const char* reason;
    } kReasons[] = {
        {"control character", "a control character inside a string"},
        {"surrogate", "a lone surrogate in a \\u escape"},
        {"4 hex digits", "a \\u escape has a character that is not hex"},
        {"after backslash", "an unknown escape in a string"},
        {"missing closing quote", "a string is not closed"},
        {"UTF-8", "a string is not UTF-8"},
        {"after '.'", "a number lacks digits after its point"},
        {"exponent", "a number lacks its exponent"},
        {"number overflow", "a number is out of range"},
        {"; expected end of input", "unexpected text after the value"},
        {"parsing object key", "an object member lacks its name"},
        {"parsing object separator", "an object member lacks ':'"},
        {"parsing object", "an object lacks ',' or '}'"},
        {"parsing array", "an array lacks ',' or ']'"},
        {"end of input", "a value is missing"},
    };
    for (const auto& [marker, reason] : kReasons) {
        if (what.find(marker) != std::string::npos) {
            return reason;
        }
    }
    return "not a JSON value";
}

// The library's reader into a value, with a depth limit, whole numbers as
// integers, and the reason of a failure kept.
class Reader : public nlohmann::detail::json_sax_dom_parser<Json> {
public:
    explicit Reader(Json& root) : json_sax_dom_parser(root, false) {}

    bool start_object(std::size_t size) { return Deeper() && json_sax_dom_parser::start_object(size); }
    bool start_array(std::size_t size) { return Deeper() && json_sax_dom_parser::start_array(size); }
    bool end_object()
    {
        --depth_;
        return json_sax_dom_parser::end_object();
    }
    bool end_array()
    {
        --depth_;
        return json_sax_dom_parser::end_array();
    }
    bool number_float(double value, const std::string& text)
    {
        if (std::nearbyint(value) == value && std::fabs(value) < kLargestWhole) {
            return number_integer(static_cast<std::int64_t>(value));
        }
        return json_sax_dom_parser::number_float(value, text);
    }
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& error)
    {
        const std::size_t start = position >= token.size() ? position - token.size() : 0;
        error_ = Reason(error.what()) + " at byte " + std::to_string(start);
        return json_sax_dom_parser::parse_error(position, token, error);
    }

    const std::string& error() const { return error_; }

private:
    bool Deeper()
    {
        if (++depth_ > kMaxDepth) {
            error_ = "nested too deeply";
            return false;
        }
        return true;
    }

    int depth_ = 0;
    std::string error_;
};

} // namespace

std::optional<Json> ParseJson(std::string_view text, std::string& error)
{
    Json value;
    Reader reader(value);
    if (!Json::sax_parse(text, &reader) || reader.is_errored()) {
        error = reader.error().empty() ? "not a JSON value" : reader.error();
        return std::nullopt;
    }
    return value;
}

std::string DumpJson(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json JsonNumber(double value)
{
    if (std::nearbyint(value) == value && std::fabs(value) < kLargestWhole) {
        return static_cast<std::int64_t>(value);
    }
    return value;
}

std::string Base64(std::string_view bytes)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        unsigned group = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            group = (group << 8) | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            out += j <= count ? kDigits[(group >> (18 - 6 * j)) & 0x3F] : '=';
        }
    }
    return out;
}

} // namespace quillon
