#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talviren::json {

// A JSON value read from text: what another talviren serves (a reading, a list of them), read
// strictly (RFC 8259, no trailing commas or comments), nested at most 32 deep. Numbers keep
// their text, so that an exact decimal stays exact.
class JsonValue {
public:
    enum class Type : unsigned char { Null, Boolean, Number, String, Array, Object };

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    bool isObject() const { return type_ == Type::Object; }
    bool isArray() const { return type_ == Type::Array; }

    // The member `key` of an object; none when it is no object or has no such member.
    const JsonValue* member(std::string_view key) const;
    // The elements of an array (empty for anything else).
    const std::vector<JsonValue>& elements() const { return elements_; }

    // A string's text, a number's text as written, "true"/"false"; none for the rest.
    std::optional<std::string_view> text() const;
    // A number as a double; none for anything else.
    std::optional<double> number() const;
    // A number that is a whole number from 0 up; none for anything else.
    std::optional<unsigned long long> whole() const;
    // A boolean; none for anything else.
    std::optional<bool> boolean() const;

private:
    friend class JsonReader;

    Type type_ = Type::Null;
    std::string text_; // string, number, boolean
    std::vector<JsonValue> elements_;
    std::vector<std::pair<std::string, JsonValue>> members_;
};

// Reads one JSON text whole (white space around it allowed); none when it is no JSON, with
// `error` saying where and why.
std::optional<JsonValue> parseJson(std::string_view text, std::string* error = nullptr);

} // namespace talviren::json
