#include "base/date_text.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace halyard {

namespace {

constexpr std::int64_t kMsPerDay = kSecondsPerDay * 1000;
constexpr std::int64_t kFirstDay = DaysFromCivil(1, 1, 1) - kDateTimeEpochDay;
constexpr std::int64_t kLastDay = DaysFromCivil(9999, 12, 31) - kDateTimeEpochDay;
static_assert(kFirstDay == -693593 && kLastDay == 2958465);

int LocalYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local.tm_year + 1900;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

// The reader of one date text: numbers separated by "-", blanks allowed before each part.
class Reader {
public:
    explicit Reader(const std::string& text) : s_(text) {}

    std::size_t pos = 0;
    bool overflow = false;

    void skipBlanks() {
        while (pos < s_.size() && IsBlankOrControl(s_[pos])) {
            ++pos;
        }
    }

    bool number(int& value, int& digits) {
        std::size_t p = pos;
        while (p < s_.size() && IsBlankOrControl(s_[p])) {
            ++p;
        }
        std::int64_t v = 0;
        digits = 0;
        while (p < s_.size() && IsDigit(s_[p])) {
            if (digits >= 9) {
                overflow = true; // far beyond any field's range: the text is not a date
                return false;
            }
            v = v * 10 + (s_[p] - '0');
            ++digits;
            ++p;
        }
        if (digits == 0) {
            return false;
        }
        value = static_cast<int>(v);
        pos = p;
        return true;
    }

    bool separator() {
        std::size_t p = pos;
        while (p < s_.size() && IsBlankOrControl(s_[p])) {
            ++p;
        }
        if (p < s_.size() && s_[p] == '-') {
            pos = p + 1;
            return true;
        }
        return false;
    }

    // "-" followed by a number, or nothing consumed.
    bool nextField(int& value, int& digits) {
        const std::size_t saved = pos;
        if (separator() && number(value, digits)) {
            return true;
        }
        pos = saved;
        return false;
    }

    bool findDigit() {
        while (pos < s_.size() && !IsDigit(s_[pos])) {
            ++pos;
        }
        return pos < s_.size();
    }

    bool atEnd() const { return pos >= s_.size(); }

    // "AM" or "PM" at the position (any letter case): 1 for AM, 2 for PM, 0 otherwise.
    int markerAt(std::size_t p) const {
        if (p + 2 > s_.size()) {
            return 0;
        }
        const char a = static_cast<char>(s_[p] | 0x20);
        const char m = static_cast<char>(s_[p + 1] | 0x20);
        if (m != 'm') {
            return 0;
        }
        return a == 'a' ? 1 : (a == 'p' ? 2 : 0);
    }

    int markerIn(std::size_t from, std::size_t to) const {
        for (std::size_t p = from; p + 1 < to; ++p) {
            if (const int marker = markerAt(p)) {
                return marker;
            }
        }
        return 0;
    }

private:
    const std::string& s_;
};

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Hours, then optionally "-" minutes and "-" seconds.
bool ReadTime(Reader& reader, TimeOfDay& time) {
    int digits = 0;
    if (!reader.number(time.hour, digits)) {
        return false;
    }
    if (reader.nextField(time.minute, digits)) {
        reader.nextField(time.second, digits);
    }
    return true;
}

// Applies an AM/PM marker and checks the ranges; the milliseconds since midnight.
std::optional<std::int64_t> TimeToMs(TimeOfDay time, int marker) {
    if (marker != 0) {
        if (time.hour < 1 || time.hour > 12) {
            return std::nullopt;
        }
        time.hour %= 12;
        if (marker == 2) {
            time.hour += 12;
        }
    }
    if (time.hour > 23 || time.minute > 59 || time.second > 59) {
        return std::nullopt;
    }
    return time.hour * 3600000LL + time.minute * 60000LL + time.second * 1000LL;
}

TDateTime ReadTimeAlone(const std::string& value) {
    Reader reader(value);
    reader.skipBlanks();
    int marker = reader.markerAt(reader.pos);
    if (marker != 0) {
        reader.pos += 2;
    }
    TimeOfDay time;
    if (!ReadTime(reader, time) || reader.overflow) {
        return 0;
    }
    reader.skipBlanks();
    if (marker == 0 && (marker = reader.markerAt(reader.pos)) != 0) {
        reader.pos += 2;
        reader.skipBlanks();
    }
    if (!reader.atEnd()) {
        return 0;
    }
    const auto ms = TimeToMs(time, marker);
    return ms ? EncodeDayAndTime(0, *ms) : 0;
}

} // namespace

int CurrentYear() {
    return LocalYear();
}

std::optional<std::int64_t> DateToDayNumber(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    return DaysFromCivil(year, month, day) - kDateTimeEpochDay;
}

TDateTime EncodeDayAndTime(std::int64_t dayNumber, std::int64_t msOfDay) {
    const double time = static_cast<double>(msOfDay) / static_cast<double>(kMsPerDay);
    const auto day = static_cast<double>(dayNumber);
    return dayNumber >= 0 ? day + time : day - time;
}

bool DecodeDateTime(TDateTime value, DateTimeFields& fields) {
    if (!std::isfinite(value) || value < static_cast<double>(kFirstDay) - 1 ||
        value > static_cast<double>(kLastDay) + 1) {
        return false;
    }
    auto day = static_cast<std::int64_t>(std::trunc(value));
    auto ms = static_cast<std::int64_t>(
        std::llround(std::fabs(value - static_cast<double>(day)) * kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        day += value >= 0 ? 1 : -1;
    }
    if (day < kFirstDay || day > kLastDay) {
        return false;
    }
    const CivilDate date = CivilFromDays(day + kDateTimeEpochDay);
    fields.year = static_cast<int>(date.year);
    fields.month = date.month;
    fields.day = date.day;
    fields.hour = static_cast<int>(ms / 3600000);
    fields.minute = static_cast<int>(ms / 60000 % 60);
    fields.second = static_cast<int>(ms / 1000 % 60);
    fields.millisecond = static_cast<int>(ms % 1000);
    return true;
}

std::string ConvertDateToString(TDateTime value, bool yearFirst) {
    DateTimeFields f;
    if (!DecodeDateTime(value, f)) {
        return {};
    }
    char text[16];
    if (yearFirst) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", f.year, f.month, f.day);
    } else {
        std::snprintf(text, sizeof text, "%02d-%02d-%04d", f.month, f.day, f.year);
    }
    return text;
}

TDateTime ConvertStringToDateTime(const std::string& value, bool yearFirst) {
    if (value.empty()) {
        return 0;
    }
    Reader reader(value);
    reader.findDigit();
    int n1 = 0, n2 = 0, n3 = 0, d1 = 0, d2 = 0, d3 = 0;
    const bool dateRead = !reader.atEnd() && reader.number(n1, d1) && reader.nextField(n2, d2);
    if (reader.overflow) {
        return 0;
    }
    if (!dateRead) {
        return ReadTimeAlone(value);
    }
    int year = 0, month = 0, day = 0, yearDigits = 0;
    if (reader.nextField(n3, d3)) {
        if (yearFirst) {
            year = n1, yearDigits = d1, month = n2, day = n3;
        } else {
            month = n1, day = n2, year = n3, yearDigits = d3;
        }
        if (yearDigits <= 2) {
            year += LocalYear() / 100 * 100;
        }
    } else {
        month = n1, day = n2, year = LocalYear();
    }
    const auto dayNumber = DateToDayNumber(year, month, day);
    if (!dayNumber) {
        return 0;
    }
    std::int64_t ms = 0;
    const std::size_t dateEnd = reader.pos;
    if (reader.findDigit()) {
        int marker = reader.markerIn(dateEnd, reader.pos);
        TimeOfDay time;
        ReadTime(reader, time);
        if (marker == 0) {
            reader.skipBlanks();
            marker = reader.markerAt(reader.pos);
        }
        const auto timeMs = TimeToMs(time, marker);
        if (!timeMs || reader.overflow) {
            return 0;
        }
        ms = *timeMs;
    }
    return EncodeDayAndTime(*dayNumber, ms);
}

std::string DateTimeToRegionalText(TDateTime value) {
    DateTimeFields f;
    if (!DecodeDateTime(value, f)) {
        return {};
    }
    char text[64];
    if (f.hour == 0 && f.minute == 0 && f.second == 0 && f.millisecond == 0) {
        std::snprintf(text, sizeof text, "%d/%d/%04d", f.month, f.day, f.year);
    } else {
        const int hour12 = f.hour % 12 == 0 ? 12 : f.hour % 12;
        std::snprintf(text, sizeof text, "%d/%d/%04d %d:%02d:%02d %s", f.month, f.day, f.year,
                      hour12, f.minute, f.second, f.hour < 12 ? "AM" : "PM");
    }
    return text;
}

} // namespace halyard
