#include "json/JsonValue.h"

#include <charconv>
#include <cstdint>

namespace talviren::json {

const JsonValue* JsonValue::member(std::string_view key) const {
    for (const auto& [name, value] : members_) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

std::optional<std::string_view> JsonValue::text() const {
    if (type_ == Type::String || type_ == Type::Number || type_ == Type::Boolean) {
        return std::string_view(text_);
    }
    return std::nullopt;
}

std::optional<double> JsonValue::number() const {
    if (type_ != Type::Number) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text_.data(), text_.data() + text_.size(), value);
    return error == std::errc() && end == text_.data() + text_.size() ? std::optional(value)
                                                                      : std::nullopt;
}

std::optional<unsigned long long> JsonValue::whole() const {
    if (type_ != Type::Number) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(text_.data(), text_.data() + text_.size(), value);
    return error == std::errc() && end == text_.data() + text_.size() ? std::optional(value)
                                                                      : std::nullopt;
}

std::optional<bool> JsonValue::boolean() const {
    if (type_ != Type::Boolean) {
        return std::nullopt;
    }
    return text_ == "true";
}

// The reader: recursive descent over the text, failing at the first thing out of place.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> document(std::string* error) {
        JsonValue value;
        skipSpace();
        if (read(value, 0)) {
            skipSpace();
            if (at_ == text_.size()) {
                return value;
            }
            fail("text after the value");
        }
        if (error) {
            *error = error_ + " at byte " + std::to_string(at_);
        }
        return std::nullopt;
    }

private:
    static constexpr int kDepth = 32;

    bool fail(const char* why) {
        if (error_.empty()) {
            error_ = why;
        }
        return false;
    }
    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return fail("an unknown word");
        }
        at_ += word.size();
        return true;
    }

    bool read(JsonValue& value, int depth) {
        if (depth > kDepth) {
            return fail("nested too deep");
        }
        if (at_ >= text_.size()) {
            return fail("the text ends early");
        }
        switch (text_[at_]) {
        case '{':
            value.type_ = JsonValue::Type::Object;
            return object(value, depth);
        case '[':
            value.type_ = JsonValue::Type::Array;
            return array(value, depth);
        case '"':
            value.type_ = JsonValue::Type::String;
            return string(value.text_);
        case 't':
        case 'f':
            value.type_ = JsonValue::Type::Boolean;
            value.text_ = text_[at_] == 't' ? "true" : "false";
            return literal(value.text_);
        case 'n':
            value.type_ = JsonValue::Type::Null;
            return literal("null");
        default:
            value.type_ = JsonValue::Type::Number;
            return number(value.text_);
        }
    }

    bool object(JsonValue& value, int depth) {
        ++at_;
        skipSpace();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return true;
        }
        while (true) {
            skipSpace();
            std::string key;
            if (at_ >= text_.size() || text_[at_] != '"' || !string(key)) {
                return fail("an object's key is no string");
            }
            skipSpace();
            if (at_ >= text_.size() || text_[at_] != ':') {
                return fail("a key without a colon");
            }
            ++at_;
            skipSpace();
            JsonValue member;
            if (!read(member, depth + 1)) {
                return false;
            }
            value.members_.emplace_back(std::move(key), std::move(member));
            skipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return true;
            }
            return fail("an object not closed");
        }
    }

    bool array(JsonValue& value, int depth) {
        ++at_;
        skipSpace();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return true;
        }
        while (true) {
            skipSpace();
            JsonValue element;
            if (!read(element, depth + 1)) {
                return false;
            }
            value.elements_.push_back(std::move(element));
            skipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return true;
            }
            return fail("an array not closed");
        }
    }

    static void appendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool hex4(std::uint32_t& code) {
        if (at_ + 4 > text_.size()) {
            return fail("a \\u escape cut short");
        }
        code = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return fail("a \\u escape that is no hex");
            }
        }
        return true;
    }

    bool string(std::string& out) {
        ++at_;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return fail("a control character in a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
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
                std::uint32_t code = 0;
                if (!hex4(code)) {
                    return false;
                }
                if (code >= 0xD800 && code < 0xDC00) {
                    std::uint32_t low = 0;
                    if (text_.substr(at_, 2) != "\\u" || (at_ += 2, !hex4(low)) || low < 0xDC00 ||
                        low >= 0xE000) {
                        return fail("a lone surrogate");
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return fail("a lone surrogate");
                }
                appendUtf8(out, code);
                break;
            }
            default:
                return fail("an unknown escape");
            }
        }
        return fail("a string not closed");
    }

    bool number(std::string& out) {
        const std::size_t start = at_;
        const auto digitsFrom = [this] {
            const std::size_t first = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            return at_ - first;
        };
        if (at_ < text_.size() && text_[at_] == '-') {
            ++at_;
        }
        const std::size_t intStart = at_;
        const std::size_t intDigits = digitsFrom();
        if (intDigits == 0 || (intDigits > 1 && text_[intStart] == '0')) {
            return fail("no number");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digitsFrom() == 0) {
                return fail("no digits after the point");
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                ++at_;
            }
            if (digitsFrom() == 0) {
                return fail("no digits in the exponent");
            }
        }
        out.assign(text_.substr(start, at_ - start));
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string error_;
};

std::optional<JsonValue> parseJson(std::string_view text, std::string* error) {
    return JsonReader(text).document(error);
}

} // namespace talviren::json
