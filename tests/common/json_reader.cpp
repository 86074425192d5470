#include "json_reader.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace halyard::test {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    JsonValue document() {
        JsonValue v = value(0);
        skipBlanks();
        if (pos_ != text_.size()) {
            fail("text after the value");
        }
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(pos_));
    }

    void skipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    char peek() {
        if (pos_ >= text_.size()) {
            fail("unexpected end");
        }
        return text_[pos_];
    }

    void expect(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) {
            fail("expected " + std::string(word));
        }
        pos_ += word.size();
    }

    JsonValue value(int depth) {
        if (depth > 64) {
            fail("nesting too deep");
        }
        skipBlanks();
        JsonValue v;
        const char c = peek();
        if (c == '{') {
            v.kind = JsonValue::Kind::Object;
            ++pos_;
            skipBlanks();
            if (peek() == '}') {
                ++pos_;
                return v;
            }
            for (;;) {
                skipBlanks();
                if (peek() != '"') {
                    fail("expected a member name");
                }
                std::string name = string();
                if (v.has(name)) {
                    fail("duplicate member " + name);
                }
                skipBlanks();
                expect(":");
                v.members.emplace_back(std::move(name), value(depth + 1));
                skipBlanks();
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect("}");
                return v;
            }
        }
        if (c == '[') {
            v.kind = JsonValue::Kind::Array;
            ++pos_;
            skipBlanks();
            if (peek() == ']') {
                ++pos_;
                return v;
            }
            for (;;) {
                v.items.push_back(value(depth + 1));
                skipBlanks();
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect("]");
                return v;
            }
        }
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            v.text = string();
            return v;
        }
        if (c == 't' || c == 'f') {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = c == 't';
            expect(v.boolean ? "true" : "false");
            return v;
        }
        if (c == 'n') {
            expect("null");
            return v;
        }
        v.kind = JsonValue::Kind::Number;
        v.number = number();
        return v;
    }

    double number() {
        const std::size_t start = pos_;
        const auto digits = [&] {
            const std::size_t from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
                ++pos_;
            }
            if (pos_ == from) {
                fail("expected a digit");
            }
        };
        if (peek() == '-') {
            ++pos_;
        }
        if (peek() == '0') {
            ++pos_;
        } else {
            digits();
        }
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            digits();
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (peek() == '+' || peek() == '-') {
                ++pos_;
            }
            digits();
        }
        return std::strtod(std::string(text_.substr(start, pos_ - start)).c_str(), nullptr);
    }

    std::uint32_t hex4() {
        if (pos_ + 4 > text_.size()) {
            fail("short \\u escape");
        }
        std::uint32_t unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[pos_++];
            unit <<= 4;
            if (h >= '0' && h <= '9') {
                unit |= static_cast<std::uint32_t>(h - '0');
            } else if (h >= 'a' && h <= 'f') {
                unit |= static_cast<std::uint32_t>(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
                unit |= static_cast<std::uint32_t>(h - 'A' + 10);
            } else {
                fail("bad hex digit");
            }
        }
        return unit;
    }

    static void appendUtf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // One UTF-8 sequence, checked strictly, copied to out.
    void utf8(std::string& out) {
        const auto lead = static_cast<unsigned char>(text_[pos_]);
        std::size_t length = 0;
        std::uint32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07u;
        } else {
            fail("invalid UTF-8");
        }
        if (pos_ + length > text_.size()) {
            fail("truncated UTF-8");
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(text_[pos_ + k]);
            if ((b & 0xC0u) != 0x80u) {
                fail("invalid UTF-8");
            }
            cp = (cp << 6) | (b & 0x3Fu);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            fail("invalid UTF-8");
        }
        out.append(text_.substr(pos_, length));
        pos_ += length;
    }

    std::string string() {
        expect("\"");
        std::string out;
        for (;;) {
            const auto c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++pos_;
                return out;
            }
            if (c < 0x20) {
                fail("raw control character in a string");
            }
            if (c >= 0x80) {
                utf8(out);
                continue;
            }
            ++pos_;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const char e = peek();
            ++pos_;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
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
                std::uint32_t cp = hex4();
                if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    fail("unpaired low surrogate");
                }
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    expect("\\u");
                    const std::uint32_t low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF) {
                        fail("unpaired high surrogate");
                    }
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                fail("unknown escape");
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

bool JsonValue::has(std::string_view name) const {
    for (const auto& [key, value] : members) {
        if (key == name) {
            return true;
        }
    }
    return false;
}

const JsonValue& JsonValue::operator[](std::string_view name) const {
    if (kind != Kind::Object) {
        throw std::runtime_error("JSON: not an object");
    }
    for (const auto& [key, value] : members) {
        if (key == name) {
            return value;
        }
    }
    throw std::runtime_error("JSON: no member " + std::string(name));
}

JsonValue ParseJson(std::string_view text) {
    return Parser(text).document();
}

} // namespace halyard::test
