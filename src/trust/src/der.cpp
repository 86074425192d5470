#include "der.h"

#include "base/calendar.h"
#include "base/unicode.h"
#include "halyard/trust/ossl_ptr.h"

#include <climits>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <vector>

namespace halyard::trust::der {

Cursor::Cursor(std::span<const std::uint8_t> data) : data_(data), pos_(0), end_(data.size()) {}

Cursor::Cursor(std::span<const std::uint8_t> data, const Element& element)
    : data_(data), pos_(element.contentOffset), end_(element.end()) {
    if (end_ > data_.size() || pos_ > end_) {
        pos_ = end_ = 0;
        fault_ = Fault::EndOfData;
    }
}

bool Cursor::peek(Element& out) {
    if (fault_ != Fault::None || pos_ >= end_) {
        return false;
    }
    const std::size_t avail = end_ - pos_;
    if (avail > static_cast<std::size_t>(LONG_MAX)) {
        fault_ = Fault::EndOfData;
        return false;
    }
    const unsigned char* start = data_.data() + pos_;
    const unsigned char* p = start;
    long length = 0;
    int tag = 0;
    int cls = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(avail));
    if (flags & 0x80) {
        // The error queue is per thread; nobody above looks at it, so leave it clean.
        ERR_clear_error();
        fault_ = Fault::EndOfData;
        // A header that was read but whose length runs past the end still tells its tag, so
        // that expect() can say "wrong tag" for bytes that are not this structure at all.
        if (p != start) {
            truncatedTag_ = tag;
            truncatedClass_ = cls;
            truncatedConstructed_ = (flags & V_ASN1_CONSTRUCTED) != 0;
            truncatedHeader_ = true;
        }
        return false;
    }
    // Indefinite lengths belong to BER; catalogs are DER.
    if (flags == 0x21) {
        fault_ = Fault::BadTag;
        return false;
    }
    const auto header = static_cast<std::size_t>(p - start);
    if (length < 0 || header > avail || static_cast<std::size_t>(length) > avail - header) {
        fault_ = Fault::EndOfData;
        return false;
    }
    out.offset = pos_;
    out.headerSize = header;
    out.contentOffset = pos_ + header;
    out.contentSize = static_cast<std::size_t>(length);
    out.tag = tag;
    out.cls = cls;
    out.constructed = (flags & V_ASN1_CONSTRUCTED) != 0;
    return true;
}

bool Cursor::next(Element& out) {
    if (!peek(out)) {
        return false;
    }
    pos_ = out.end();
    return true;
}

bool Cursor::expect(int cls, int tag, Element& out) {
    const bool needsConstructed = cls == kUniversal && (tag == kTagSequence || tag == kTagSet);
    if (!next(out)) {
        if (fault_ == Fault::None) {
            fault_ = Fault::EndOfData;
        } else if (truncatedHeader_ && (truncatedTag_ != tag || truncatedClass_ != cls ||
                                        (needsConstructed && !truncatedConstructed_))) {
            fault_ = Fault::BadTag;
        }
        return false;
    }
    if (!out.is(cls, tag) || (needsConstructed && !out.constructed)) {
        fault_ = Fault::BadTag;
        return false;
    }
    return true;
}

std::span<const std::uint8_t> Contents(std::span<const std::uint8_t> data, const Element& e) {
    return data.subspan(e.contentOffset, e.contentSize);
}

std::span<const std::uint8_t> Whole(std::span<const std::uint8_t> data, const Element& e) {
    return data.subspan(e.offset, e.totalSize());
}

namespace {

// The dotted text of an identifier's content whose arcs each fit in 56 bits; nullopt when one
// does not, or when the encoding is not canonical (an arc starting with 0x80, or cut short), as
// OpenSSL refuses those too.
std::optional<std::string> SmallArcsText(std::span<const std::uint8_t> content) {
    std::string text;
    std::uint64_t arc = 0;
    bool first = true;
    bool inArc = false;
    for (const std::uint8_t byte : content) {
        if (!inArc && byte == 0x80) {
            return std::nullopt;
        }
        if (arc >> 56 != 0) {
            return std::nullopt;
        }
        arc = arc << 7 | (byte & 0x7f);
        inArc = (byte & 0x80) != 0;
        if (inArc) {
            continue;
        }
        if (first) {
            const std::uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            text = std::to_string(top) + '.' + std::to_string(arc - top * 40);
            first = false;
        } else {
            text += '.';
            text += std::to_string(arc);
        }
        arc = 0;
    }
    if (inArc || first) {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::optional<std::string> OidText(std::span<const std::uint8_t> data, const Element& e) {
    // Real identifiers are a few dozen bytes; a long one would only cost big-number arithmetic.
    constexpr std::size_t kMaxOidBytes = 128;
    if (!e.is(kUniversal, kTagOid) || e.constructed || e.contentSize == 0 ||
        e.contentSize > kMaxOidBytes) {
        return std::nullopt;
    }
    // The arcs are read here: a catalog holds thousands of identifiers and OpenSSL's text
    // conversion formats each through its printf. Arcs too large for 64 bits go to OpenSSL.
    if (const auto text = SmallArcsText(data.subspan(e.contentOffset, e.contentSize))) {
        return text;
    }
    const unsigned char* p = data.data() + e.offset;
    const Asn1ObjectPtr obj(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(e.totalSize())));
    if (!obj) {
        ERR_clear_error();
        return std::nullopt;
    }
    char small[128];
    const int needed = OBJ_obj2txt(small, sizeof small, obj.get(), 1);
    if (needed <= 0) {
        ERR_clear_error();
        return std::nullopt;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        return std::string(small, static_cast<std::size_t>(needed));
    }
    std::vector<char> big(static_cast<std::size_t>(needed) + 1);
    if (OBJ_obj2txt(big.data(), static_cast<int>(big.size()), obj.get(), 1) != needed) {
        ERR_clear_error();
        return std::nullopt;
    }
    return std::string(big.data(), static_cast<std::size_t>(needed));
}

std::optional<std::string> BmpText(std::span<const std::uint8_t> data, const Element& e) {
    if (e.constructed || e.contentSize % 2 != 0) {
        return std::nullopt;
    }
    const auto bytes = Contents(data, e);
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]));
    }
    return Utf16ToUtf8(units);
}

std::optional<std::uint32_t> Uint32Value(std::span<const std::uint8_t> data, const Element& e) {
    if (!e.is(kUniversal, kTagInteger) || e.constructed || e.contentSize == 0) {
        return std::nullopt;
    }
    const auto bytes = Contents(data, e);
    std::size_t start = 0;
    // A fifth byte may only be the sign byte of a positive value.
    if (bytes.size() == 5 && bytes[0] == 0) {
        start = 1;
    } else if (bytes.size() > 4) {
        return std::nullopt;
    }
    std::uint32_t value = (bytes[start] & 0x80) && start == 0 ? 0xFFFFFFFFu : 0;
    for (std::size_t i = start; i < bytes.size(); ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

FileTime FileTimeFromCalendar(int year, int month, int day, int hour, int minute, int second,
                              int millisecond) {
    const std::int64_t days = DaysFromCivil(year, month, day);
    return UnixMsToFileTime(((days * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL +
                            millisecond);
}

std::optional<FileTime> TimeValue(std::span<const std::uint8_t> data, const Element& e) {
    if (e.constructed || e.cls != kUniversal ||
        (e.tag != kTagUtcTime && e.tag != kTagGeneralizedTime) || e.contentSize > 32) {
        return std::nullopt;
    }
    const auto bytes = Contents(data, e);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    int year = 0;
    std::size_t at = 0;
    if (e.tag == kTagUtcTime) {
        if (!Digits(text, 0, 2, year)) {
            return std::nullopt;
        }
        year += year < 50 ? 2000 : 1900;
        at = 2;
    } else {
        if (!Digits(text, 0, 4, year) || year < 1601) {
            return std::nullopt;
        }
        at = 4;
    }
    int month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    if (!Digits(text, at, 2, month) || !Digits(text, at + 2, 2, day) ||
        !Digits(text, at + 4, 2, hour) || !Digits(text, at + 6, 2, minute)) {
        return std::nullopt;
    }
    at += 8;
    if (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        if (!Digits(text, at, 2, second)) {
            return std::nullopt;
        }
        at += 2;
    }
    if (e.tag == kTagGeneralizedTime && at < text.size() && (text[at] == '.' || text[at] == ',')) {
        ++at;
        int scale = 100;
        const std::size_t first = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            millisecond += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == first) {
            return std::nullopt;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    std::int64_t offsetMinutes = 0;
    if (at < text.size() && text[at] == 'Z') {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        int oh = 0, om = 0;
        if (!Digits(text, at + 1, 2, oh) || !Digits(text, at + 3, 2, om) || oh > 23 || om > 59) {
            return std::nullopt;
        }
        offsetMinutes = (oh * 60 + om) * (text[at] == '+' ? 1 : -1);
        at += 5;
    } else if (e.tag == kTagUtcTime) {
        return std::nullopt;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    const FileTime local =
        FileTimeFromCalendar(year, month, day, hour, minute, second, millisecond);
    const std::int64_t shift = offsetMinutes * 60LL * 10000000LL;
    if (shift > 0 && local < static_cast<FileTime>(shift)) {
        return std::nullopt;
    }
    return static_cast<FileTime>(static_cast<std::int64_t>(local) - shift);
}

} // namespace halyard::trust::der
