#include "runner/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quillon::runner {

namespace {

// Nesting deeper than this is refused, so a hostile line cannot exhaust the
// stack.
constexpr int kMaxDepth = 64;

void AppendUtf8(std::string& out, unsigned codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<Json> Document(std::string& error)
    {
        std::optional<Json> value = Value(0);
        SkipSpace();
        if (value && at_ != text_.size()) {
            Fail("unexpected text after the value");
            value.reset();
        }
        if (!value) {
            error = error_ + " at byte " + std::to_string(at_);
        }
        return value;
    }

private:
    void SkipSpace()
    {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    std::nullopt_t Fail(const std::string& why)
    {
        if (error_.empty()) {
            error_ = why;
        }
        return std::nullopt;
    }

    bool Literal(std::string_view word)
    {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        return true;
    }

    std::optional<Json> Value(int depth)
    {
        if (depth > kMaxDepth) {
            return Fail("nested too deeply");
        }
        SkipSpace();
        if (at_ == text_.size()) {
            return Fail("a value is missing");
        }
        switch (text_[at_]) {
        case '{':
            return ObjectValue(depth);
        case '[':
            return ArrayValue(depth);
        case '"': {
            auto text = StringValue();
            return text ? std::optional<Json>(std::move(*text)) : std::nullopt;
        }
        case 't':
            return Literal("true") ? std::optional<Json>(true) : Fail("not a JSON value");
        case 'f':
            return Literal("false") ? std::optional<Json>(false) : Fail("not a JSON value");
        case 'n':
            return Literal("null") ? std::optional<Json>(nullptr) : Fail("not a JSON value");
        default:
            return NumberValue();
        }
    }

    std::optional<Json> NumberValue()
    {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t first = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            return at_ > first;
        };
        if (at_ < text_.size() && text_[at_] == '-') {
            ++at_;
        }
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (!digits()) {
            return Fail("not a JSON value");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!digits()) {
                return Fail("a number lacks digits after its point");
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                ++at_;
            }
            if (!digits()) {
                return Fail("a number lacks its exponent");
            }
        }
        const std::string number(text_.substr(start, at_ - start));
        const double value = std::strtod(number.c_str(), nullptr);
        if (!std::isfinite(value)) {
            return Fail("a number is out of range");
        }
        return Json(value);
    }

    std::optional<unsigned> Hex4()
    {
        if (text_.size() - at_ < 4) {
            return Fail("a \\u escape is cut short");
        }
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return Fail("a \\u escape has a character that is not hex");
            }
        }
        return value;
    }

    std::optional<std::string> StringValue()
    {
        ++at_;
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return Fail("a control character inside a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ == text_.size()) {
                break;
            }
            const char escape = text_[at_++];
            switch (escape) {
            case '"':
            case '\\':
            case '/':
                out += escape;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                auto unit = Hex4();
                if (!unit) {
                    return std::nullopt;
                }
                unsigned codePoint = *unit;
                if (codePoint >= 0xD800 && codePoint < 0xDC00) {
                    if (!Literal("\\u")) {
                        return Fail("a lone surrogate in a \\u escape");
                    }
                    auto low = Hex4();
                    if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                        return Fail("a lone surrogate in a \\u escape");
                    }
                    codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (*low - 0xDC00);
                } else if (codePoint >= 0xDC00 && codePoint < 0xE000) {
                    return Fail("a lone surrogate in a \\u escape");
                }
                AppendUtf8(out, codePoint);
                break;
            }
            default:
                return Fail("an unknown escape in a string");
            }
        }
        return Fail("a string is not closed");
    }

    std::optional<Json> ArrayValue(int depth)
    {
        ++at_;
        Json::Array items;
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return Json(std::move(items));
        }
        for (;;) {
            auto item = Value(depth + 1);
            if (!item) {
                return std::nullopt;
            }
            items.push_back(std::move(*item));
            SkipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return Json(std::move(items));
            }
            return Fail("an array lacks ',' or ']'");
        }
    }

    std::optional<Json> ObjectValue(int depth)
    {
        ++at_;
        Json::Object members;
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return Json(std::move(members));
        }
        for (;;) {
            SkipSpace();
            if (at_ == text_.size() || text_[at_] != '"') {
                return Fail("an object member lacks its name");
            }
            auto key = StringValue();
            if (!key) {
                return std::nullopt;
            }
            SkipSpace();
            if (at_ == text_.size() || text_[at_] != ':') {
                return Fail("an object member lacks ':'");
            }
            ++at_;
            auto value = Value(depth + 1);
            if (!value) {
                return std::nullopt;
            }
            members.emplace_back(std::move(*key), std::move(*value));
            SkipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return Json(std::move(members));
            }
            return Fail("an object lacks ',' or '}'");
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string error_;
};

void DumpString(const std::string& text, std::string& out)
{
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void DumpValue(const Json& value, std::string& out)
{
    if (value.isNull()) {
        out += "null";
    } else if (const bool* flag = value.boolean()) {
        out += *flag ? "true" : "false";
    } else if (const double* number = value.number()) {
        char text[32];
        if (std::nearbyint(*number) == *number && std::fabs(*number) < 1e15) {
            std::snprintf(text, sizeof text, "%.0f", *number);
        } else {
            std::snprintf(text, sizeof text, "%.12g", *number);
        }
        out += text;
    } else if (const std::string* text = value.string()) {
        DumpString(*text, out);
    } else if (const Json::Array* items = value.array()) {
        out += '[';
        for (std::size_t i = 0; i < items->size(); ++i) {
            out += i == 0 ? "" : ",";
            DumpValue((*items)[i], out);
        }
        out += ']';
    } else if (const Json::Object* members = value.object()) {
        out += '{';
        for (std::size_t i = 0; i < members->size(); ++i) {
            out += i == 0 ? "" : ",";
            DumpString((*members)[i].first, out);
            out += ':';
            DumpValue((*members)[i].second, out);
        }
        out += '}';
    }
}

} // namespace

const Json* Json::Find(std::string_view key) const
{
    if (const Object* members = object()) {
        for (const auto& [name, value] : *members) {
            if (name == key) {
                return &value;
            }
        }
    }
    return nullptr;
}

Json& Json::Set(std::string key, Json value)
{
    if (isNull()) {
        value_ = Object{};
    }
    std::get<Object>(value_).emplace_back(std::move(key), std::move(value));
    return *this;
}

std::string Json::Dump() const
{
    std::string out;
    DumpValue(*this, out);
    return out;
}

std::optional<Json> ParseJson(std::string_view text, std::string& error)
{
    return Parser(text).Document(error);
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

} // namespace quillon::runner
