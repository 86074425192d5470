#include "inf/driver_ver.h"

#include "base/date_text.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "inf/inf_text.h"
#include "inf/ini_files.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/osversion.h"
#include "report/diagnostics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>

namespace halyard {

namespace {

constexpr const char* kFunc = "ExtractParamsFromInf";
// Lookup defaults chosen so that a missing entry or token fails later, visibly.
constexpr const char* kNoDriverVer = "456,789";
constexpr const char* kNoToken = "102";
constexpr const char* kNoDateToken = "105";

bool StartsAndEndsWith(const std::string& s, char c) {
    return !s.empty() && s.front() == c && s.back() == c;
}

// "%name%" -> "name" (blanks stripped). Only called for texts longer than one character.
std::string TokenName(const std::string& s) {
    return Trim(std::string_view(s).substr(1, s.size() - 2));
}

// A run of decimal digits after spaces, as the date scanner reads it: it stops once the value
// reaches four digits' worth, so a longer run leaves digits behind and the text fails.
bool ScanNumber(std::string_view s, std::size_t& pos, int& number, int& digits) {
    while (pos < s.size() && s[pos] == ' ') {
        ++pos;
    }
    std::size_t i = pos;
    int n = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < 1000) {
        n = n * 10 + (s[i] - '0');
        ++i;
    }
    if (i == pos) {
        return false;
    }
    digits = static_cast<int>(i - pos);
    number = n;
    pos = i;
    return true;
}

bool ScanChar(std::string_view s, std::size_t& pos, char c) {
    while (pos < s.size() && s[pos] == ' ') {
        ++pos;
    }
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// The leading integer of a version component, clamped to the 32-bit signed range.
std::int64_t ComponentValue(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
        negative = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    constexpr std::int64_t kCap = std::int64_t{1} << 40; // far beyond the range, no overflow
    std::int64_t value = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            break;
        }
        value = std::min(kCap, value * base + digit);
    }
    if (negative) {
        value = -value;
    }
    return std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max());
}

} // namespace

std::string CorrectValue(const std::string& text) {
    std::string s = text;
    const auto semicolon = s.find(';');
    if (semicolon != std::string::npos) {
        s = Trim(std::string_view(s).substr(0, semicolon));
    }
    if (!s.empty() && s.front() == '"' && s.back() == '"') {
        s = s.size() < 2 ? std::string() : Trim(std::string_view(s).substr(1, s.size() - 2));
    }
    if (!s.empty() && s.front() == '[' && s.back() == ']') {
        s = s.size() < 2 ? std::string() : Trim(std::string_view(s).substr(1, s.size() - 2));
    }
    return Trim(s);
}

std::string CorrectVersion(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    std::string s = text;
    for (char& c : s) {
        if (c == ',') {
            c = '.';
        }
    }
    if (StartsAndEndsWith(s, '"')) {
        s = s.size() < 2 ? std::string() : Trim(std::string_view(s).substr(1, s.size() - 2));
        if (s.empty()) {
            return {};
        }
    }
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const auto dot = s.find('.', start);
        const std::string_view component = std::string_view(s).substr(
            start, dot == std::string::npos ? std::string::npos : dot - start);
        if (start != 0) {
            result += '.';
        }
        result += std::to_string(ComponentValue(component));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    return result;
}

TDateTime DriverDateToDateTime(const std::string& text) {
    const std::string_view s = text;
    std::size_t pos = 0;
    int month = 0;
    int day = 0;
    int year = 0;
    int digits = 0;
    if (!ScanNumber(s, pos, month, digits) || !ScanChar(s, pos, '/') ||
        !ScanNumber(s, pos, day, digits)) {
        return kBadDateText;
    }
    if (ScanChar(s, pos, '/')) {
        if (!ScanNumber(s, pos, year, digits)) {
            return kBadDateText;
        }
        if (digits <= 2) {
            year += CurrentYear() / 100 * 100;
        }
    } else {
        year = CurrentYear();
    }
    while (pos < s.size() && s[pos] == ' ') {
        ++pos;
    }
    if (pos != s.size()) {
        return kBadDateText;
    }
    const auto dayNumber = DateToDayNumber(year, month, day);
    return dayNumber ? static_cast<TDateTime>(*dayNumber) : kBadDateText;
}

std::string DateToShortDateText(TDateTime date) {
    DateTimeFields f;
    if (!DecodeDateTime(std::floor(date), f)) {
        return {};
    }
    std::string year = std::to_string(f.year);
    while (year.size() < 4) {
        year.insert(year.begin(), '0');
    }
    return std::to_string(f.month) + "/" + std::to_string(f.day) + "/" + year;
}

bool ExtractParamsFromInf(const std::string& infPath, const std::string& infSection,
                          TDateTime& date, std::string& version, bool isWow64) {
    using codes::kNoCode;
    if (!platform::FileExists(infPath)) {
        CollectError(kFunc, "Not exists", infPath, kNoCode);
        return false;
    }
    // The private-profile service answers the default for a file it cannot read, which would
    // hide why every lookup failed: an INF that is no regular file or is too large is named.
    if (const std::uint32_t refused =
            platform::ProbeInputFile(infPath, platform::kMaxInfFileSize)) {
        CollectError(kFunc, "Cannot read", infPath, refused);
        return false;
    }
    TIniFile inf(infPath);
    bool result = true;

    const std::string decoration = isWow64 ? ".ntamd64" : ".ntx86";
    const platform::OsVersion os = platform::GetOsVersion();
    const std::string candidates[] = {
        infSection + decoration + "." + std::to_string(os.major) + "." + std::to_string(os.minor),
        infSection + decoration,
        infSection + ".nt",
        infSection,
    };
    std::string text;
    for (const std::string& section : candidates) {
        text = inf.ReadString(section, "DriverVer", "");
        if (!text.empty() && text.find('.') != std::string::npos) {
            break;
        }
    }
    if (text.empty() || text.find('.') == std::string::npos) {
        text = inf.ReadString("Version", "DriverVer", kNoDriverVer);
    }

    if (text.size() > 1 && StartsAndEndsWith(text, '%')) {
        const std::string resolved =
            CorrectValue(inf.ReadString("Strings", TokenName(text), kNoToken));
        if (resolved != kNoToken && !resolved.empty()) {
            text = resolved;
        }
    }
    text = CorrectValue(text);
    if (!text.empty() && text.back() == ',') {
        text.pop_back();
    }
    const auto comma = text.find(',');
    const bool hasComma = comma != std::string::npos;

    std::string versionPart;
    if (hasComma) {
        versionPart = CorrectValue(
            std::string(inf::Utf16Prefix(std::string_view(text).substr(comma + 1), 1000)));
    } else if (text.find('/') == std::string::npos && text.find('%') == std::string::npos) {
        versionPart = text;
    }
    if (versionPart.size() > 1 && StartsAndEndsWith(versionPart, '%')) {
        versionPart = CorrectValue(inf.ReadString("Strings", TokenName(versionPart), kNoToken));
    }
    const auto versionComma = versionPart.find(',');
    if (versionComma != std::string::npos) {
        versionPart = CorrectValue(versionPart.substr(0, versionComma));
    }
    // The extraction's CorrectVersionEx is CorrectVersion unchanged.
    version = CorrectVersion(versionPart);

    std::string datePart;
    if (hasComma) {
        datePart = CorrectValue(text.substr(0, comma));
    } else if (text.find('/') != std::string::npos || text.find('%') != std::string::npos) {
        datePart = text;
    }
    date = kNoDateText;
    if (inf::Utf16Length(datePart) > 1) {
        if (StartsAndEndsWith(datePart, '%')) {
            datePart = CorrectValue(inf.ReadString("Strings", TokenName(datePart), kNoDateToken));
        }
        date = DriverDateToDateTime(datePart);
    }

    const bool badDate = date == kNoDateText || date == kBadDateText;
    if (hasComma) {
        if (version.empty()) {
            CollectError(kFunc, "Version failed", "", kNoCode);
            result = false;
        }
        if (badDate) {
            CollectError(kFunc, "Date failed", "", kNoCode);
            result = false;
        }
    } else if (version.empty() && badDate) {
        CollectError(kFunc, "Version or Date failed", version + " vs " + DateToShortDateText(date),
                     kNoCode);
        result = false;
    }
    return result;
}

} // namespace halyard
