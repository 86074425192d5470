// A small strict JSON reader for the tests: the whole text must be one JSON value (RFC 8259),
// strings valid UTF-8 without raw control characters, escapes well formed, surrogates paired.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace halyard::test {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text; // String: the decoded UTF-8 text
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members; // in order; no duplicate names

    // The member of an object; throws std::runtime_error when it is missing or this is no object.
    const JsonValue& operator[](std::string_view name) const;
    bool has(std::string_view name) const;
};

// Parses the text; throws std::runtime_error naming the offset of the first fault.
JsonValue ParseJson(std::string_view text);

} // namespace halyard::test
