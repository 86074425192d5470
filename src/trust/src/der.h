// A bounded DER walker over OpenSSL's ASN1_get_object, for the catalog and CTL readers. Every
// element is checked against the bounds of its parent before it is looked at, so malformed input
// is refused without reading past the buffer; each byte is visited a bounded number of times.
#pragma once

#include "platform/ctl.h"
#include "private.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace halyard::trust::der {

using platform::FileTime;

// Tag numbers and classes as ASN1_get_object reports them.
inline constexpr int kUniversal = 0x00;
inline constexpr int kContext = 0x80;
inline constexpr int kTagBoolean = 1;
inline constexpr int kTagInteger = 2;
inline constexpr int kTagBitString = 3;
inline constexpr int kTagOctetString = 4;
inline constexpr int kTagNull = 5;
inline constexpr int kTagOid = 6;
inline constexpr int kTagUtcTime = 23;
inline constexpr int kTagGeneralizedTime = 24;
inline constexpr int kTagBmpString = 30;
inline constexpr int kTagSequence = 16;
inline constexpr int kTagSet = 17;

// Why a walk stopped.
enum class Fault { None, BadTag, EndOfData };

// One element: where it starts, where its contents lie, and what it is.
struct Element {
    std::size_t offset = 0; // first byte of the tag, relative to the walker's base
    std::size_t headerSize = 0;
    std::size_t contentOffset = 0; // first byte of the contents
    std::size_t contentSize = 0;
    int tag = 0;
    int cls = 0;
    bool constructed = false;

    std::size_t totalSize() const { return headerSize + contentSize; }
    std::size_t end() const { return contentOffset + contentSize; }
    bool is(int wantClass, int wantTag) const { return cls == wantClass && tag == wantTag; }
};

// Walks the elements of one level: the whole buffer, or the contents of one element.
class Cursor {
public:
    // The top level of data; offsets are reported relative to data's start.
    explicit Cursor(std::span<const std::uint8_t> data);
    // The contents of element within the same data.
    Cursor(std::span<const std::uint8_t> data, const Element& element);

    bool atEnd() const { return pos_ >= end_; }
    // Reads the next element; false at the end of this level or on malformed input (see fault()).
    bool next(Element& out);
    // Reads the next element and requires it to have the class and tag (and, for SEQUENCE and
    // SET, the constructed form); false otherwise, with fault() set.
    bool expect(int cls, int tag, Element& out);
    // Looks at the next element without consuming it; false at the end or on malformed input.
    bool peek(Element& out);
    Fault fault() const { return fault_; }
    void fail(Fault fault) { fault_ = fault; }

    std::span<const std::uint8_t> data() const { return data_; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    Fault fault_ = Fault::None;
    bool truncatedHeader_ = false;
    bool truncatedConstructed_ = false;
    int truncatedTag_ = 0;
    int truncatedClass_ = 0;
};

// The contents of an element.
std::span<const std::uint8_t> Contents(std::span<const std::uint8_t> data, const Element& e);
// The element whole, tag and length included.
std::span<const std::uint8_t> Whole(std::span<const std::uint8_t> data, const Element& e);

// An OBJECT IDENTIFIER element as dotted text; nullopt when its encoding is invalid.
std::optional<std::string> OidText(std::span<const std::uint8_t> data, const Element& e);
// A BMPString element (UTF-16 big-endian) as UTF-8; nullopt for an odd byte count.
std::optional<std::string> BmpText(std::span<const std::uint8_t> data, const Element& e);
// An INTEGER element that fits in 32 bits (two's complement), as Windows reads it into a DWORD.
std::optional<std::uint32_t> Uint32Value(std::span<const std::uint8_t> data, const Element& e);
// A UTCTime or GeneralizedTime element as FILETIME (UTC); nullopt when it is not a valid time.
std::optional<FileTime> TimeValue(std::span<const std::uint8_t> data, const Element& e);

// FILETIME for a calendar time in UTC.
FileTime FileTimeFromCalendar(int year, int month, int day, int hour, int minute, int second,
                              int millisecond = 0);

} // namespace halyard::trust::der
