// A small JSON writer for catinspect's reports: objects, arrays, strings, booleans and null,
// written compactly into one text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace catinspect {

// The text as a JSON string literal, quotes included. Quotes, backslashes and every control
// character are escaped (U+0000..U+001F, DEL, the C1 controls and U+2028/U+2029 as \uXXXX);
// other valid UTF-8 passes as it is; a byte that is not part of valid UTF-8 becomes U+FFFD, as
// JSON text must be Unicode.
std::string JsonString(std::string_view text);

class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    // The name of the next member of an object.
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(bool flag);
    JsonWriter& null();

    const std::string& text() const { return text_; }

private:
    void separate();

    std::string text_;
    // Per open container: whether it has an element already.
    std::vector<bool> hasElement_;
    bool afterKey_ = false;
};

} // namespace catinspect
