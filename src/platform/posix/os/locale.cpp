#include "platform/locale.h"

#include "base/unicode.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace halyard::platform {

namespace {

// Case mapping follows the C.UTF-8 locale's Unicode tables, the closest POSIX counterpart of
// Windows' default casing; without that locale only ASCII letters change.
// Owned for the life of the module: freed when the program ends or the library that holds
// this layer (the POSIX Setup API library) is unloaded.
class OwnedLocale {
public:
    OwnedLocale() {
        loc_ = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (loc_ == static_cast<locale_t>(nullptr)) {
            loc_ = ::newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
        }
    }
    ~OwnedLocale() {
        if (loc_ != static_cast<locale_t>(nullptr)) {
            ::freelocale(loc_);
        }
    }
    OwnedLocale(const OwnedLocale&) = delete;
    OwnedLocale& operator=(const OwnedLocale&) = delete;
    locale_t get() const { return loc_; }

private:
    locale_t loc_;
};

locale_t CaseLocale() {
    static const OwnedLocale loc;
    return loc.get();
}

template <class Map>
std::string MapCase(std::string_view text, Map map) {
    std::u16string units = Utf8ToUtf16(text);
    for (char16_t& u : units) {
        if (u < 0xD800 || u > 0xDFFF) {
            const auto mapped = map(static_cast<wint_t>(u));
            if (mapped <= 0xFFFF) {
                u = static_cast<char16_t>(mapped);
            }
        }
    }
    return Utf16ToUtf8(units);
}

wint_t Upper(wint_t c) {
    const locale_t loc = CaseLocale();
    if (loc != static_cast<locale_t>(nullptr)) {
        return ::towupper_l(c, loc);
    }
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

wint_t Lower(wint_t c) {
    const locale_t loc = CaseLocale();
    if (loc != static_cast<locale_t>(nullptr)) {
        return ::towlower_l(c, loc);
    }
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

} // namespace

std::string UpperCase(std::string_view text) {
    return MapCase(text, Upper);
}
std::string LowerCase(std::string_view text) {
    return MapCase(text, Lower);
}

int CompareTextEnUs(std::string_view a, std::string_view b) {
    // Ordinal comparison of the upper-cased UTF-16 units: for the texts compared here (hex tags)
    // this is the en-US order: digits before letters, a prefix before its extensions.
    const std::u16string ua = Utf8ToUtf16(UpperCase(a));
    const std::u16string ub = Utf8ToUtf16(UpperCase(b));
    return ua.compare(ub) < 0 ? -1 : (ua == ub ? 0 : 1);
}

} // namespace halyard::platform
