#include "base/unicode.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <array>
#include <cstdio>

namespace halyard {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t DecodeUtf8(std::string_view text, std::size_t& i, bool& valid) {
    return DecodeUtf8Char(text, i, &valid);
}

// Windows-1252 bytes 0x80..0x9F; 0 marks the five undefined positions, which Windows maps to
// the C1 control of the same value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                cp = kReplacement;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    bool valid = true;
    while (i < text.size()) {
        char32_t cp = DecodeUtf8(text, i, valid);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16LeBytesToUtf8(std::span<const std::uint8_t> bytes, bool stopAtZero) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0 && stopAtZero) {
            break;
        }
        units.push_back(unit);
    }
    return Utf16ToUtf8(units);
}

std::string AnsiToUtf8(std::string_view bytes) {
#ifdef _WIN32
    // Windows: the system's ANSI code page, whatever it is.
    if (bytes.empty()) {
        return {};
    }
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::u16string wide(static_cast<std::size_t>(n > 0 ? n : 0), u'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size,
                              reinterpret_cast<wchar_t*>(wide.data()), n);
    }
    return Utf16ToUtf8(wide);
#else
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        char32_t cp = b;
        if (b >= 0x80 && b <= 0x9F && kCp1252High[b - 0x80] != 0) {
            cp = kCp1252High[b - 0x80];
        }
        AppendUtf8(out, cp);
    }
    return out;
#endif
}

std::string Utf8ToAnsi(std::string_view text) {
#ifdef _WIN32
    const std::u16string wide = Utf8ToUtf16(text);
    if (wide.empty()) {
        return {};
    }
    const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_ACP, 0, units, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, units, size, out.data(), n, nullptr, nullptr);
    }
    return out;
#else
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    bool valid = true;
    while (i < text.size()) {
        const char32_t cp = DecodeUtf8(text, i, valid);
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        char mapped = '?';
        for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
            const char32_t high = kCp1252High[k] != 0 ? kCp1252High[k] : 0x80 + k;
            if (high == cp) {
                mapped = static_cast<char>(0x80 + k);
                break;
            }
        }
        out.push_back(mapped);
    }
    return out;
#endif
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    bool valid = true;
    while (i < text.size()) {
        DecodeUtf8(text, i, valid);
        if (!valid) {
            return false;
        }
    }
    return true;
}

std::string TrimLeft(std::string_view text) {
    std::size_t b = 0;
    while (b < text.size() && static_cast<unsigned char>(text[b]) <= 0x20) {
        ++b;
    }
    return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
    std::size_t e = text.size();
    while (e > 0 && static_cast<unsigned char>(text[e - 1]) <= 0x20) {
        --e;
    }
    return std::string(text.substr(0, e));
}

std::string Trim(std::string_view text) {
    return TrimLeft(TrimRight(text));
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

ByteOrderMark DetectByteOrderMark(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return ByteOrderMark::Utf8;
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return ByteOrderMark::Utf16Le;
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        return ByteOrderMark::Utf16Be;
    }
    return ByteOrderMark::None;
}

std::size_t ByteOrderMarkSize(ByteOrderMark mark) {
    switch (mark) {
    case ByteOrderMark::Utf8:
        return 3;
    case ByteOrderMark::Utf16Le:
    case ByteOrderMark::Utf16Be:
        return 2;
    case ByteOrderMark::None:
        break;
    }
    return 0;
}

} // namespace halyard
