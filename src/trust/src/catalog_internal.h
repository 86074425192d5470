// Pieces shared by the catalog reader and the CTL query: the SignedData envelope, the CTL's
// fields, and reading a whole file with the Windows error code on failure.
#pragma once

#include "der.h"
#include "halyard/trust/parse.h"
#include "private.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace halyard::trust::catalog_detail {

// The SignedData around a CTL; element offsets are relative to the parsed bytes.
struct Envelope {
    std::size_t size = 0; // the ContentInfo's encoded size
    der::Element ctl;     // the CTL SEQUENCE
    ByteSpan ctlContent;
    std::vector<ByteSpan> certificates;
    std::vector<ParsedSignerInfo> signerInfos;
};

struct CtlAttribute {
    std::string oid;
    std::vector<der::Element> values;
};

struct CtlEntry {
    der::Element identifier; // OCTET STRING
    std::vector<CtlAttribute> attributes;
};

struct CtlExtension {
    std::string oid;
    der::Element value; // OCTET STRING
};

struct CtlParts {
    std::vector<std::string> usage;
    FileTime thisUpdate = 0;
    std::optional<FileTime> nextUpdate;
    std::string subjectAlgorithm;
    std::vector<CtlEntry> entries;
    std::vector<CtlExtension> extensions;
};

// The parts, or the code Windows would leave.
Outcome<Envelope> ParseEnvelope(std::span<const std::uint8_t> data);
// With onlyTag, the entries whose tag (as the catalog names members) differs from it without
// regard to case are passed over unread.
Outcome<CtlParts> ParseCtl(std::span<const std::uint8_t> data, const der::Element& ctl,
                           const std::string_view* onlyTag = nullptr);

// A member's tag as the catalog names it: the identifier's hex digits (v2 catalogs, whose
// subject algorithm is the member OID .311.12.1.3) or its UTF-16 text.
std::string MemberTagOf(std::span<const std::uint8_t> data, bool version2,
                        const der::Element& identifier);
// 0 on success, else the code Windows would leave.
std::uint32_t ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out);

} // namespace halyard::trust::catalog_detail
