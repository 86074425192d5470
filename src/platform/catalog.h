// Catalog store operations (CryptCATOpen, CryptCATEnumerateCatAttr, CryptCATEnumerateMember,
// CryptCATEnumerateAttr, CryptCATClose). A store is read whole when opened; enumeration is a walk
// over its lists in the order the catalog stores them.
#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace halyard::platform {

inline constexpr std::uint32_t kX509AsnEncoding = 0x00000001;
inline constexpr std::uint32_t kPkcs7AsnEncoding = 0x00010000;

// CRYPTCATATTRIBUTE: name (pwszReferenceTag), flags (dwAttrTypeAndAction) and value (pbValue).
struct CatAttribute {
    std::string referenceTag; // UTF-8
    std::uint32_t attrTypeAndAction = 0;
    // The stored bytes; for name/value attributes UTF-16LE text with a terminating zero unit.
    std::vector<std::uint8_t> value;

    // The value read as zero-terminated UTF-16 text, as UTF-8.
    std::string valueText() const;
};

// CRYPTCATMEMBER: the member tag, the indirect data it carries and its attributes.
struct CatMember {
    std::string referenceTag;         // the member tag as the platform presents it (hex text)
    std::string indirectDataTypeOid;  // e.g. 1.3.6.1.4.1.311.2.1.15 (PE image)
    std::string digestAlgorithmOid;   // e.g. 1.3.14.3.2.26 (SHA-1), 2.16.840.1.101.3.4.2.1
    std::vector<std::uint8_t> digest; // the indirect data's digest
    std::vector<CatAttribute> attributes;
};

// CRYPTCATSTORE and its content.
struct CatalogStore {
    std::uint32_t publicVersion = 0;
    std::uint32_t encodingType = kX509AsnEncoding | kPkcs7AsnEncoding;
    std::string path;
    std::vector<CatAttribute> catalogAttributes;
    std::vector<CatMember> members;
};

using CatalogHandle = std::shared_ptr<const CatalogStore>;

// The member a trust query through the catalog finds for a tag: the first whose tag is the text
// exactly, else the first that differs only in the letter case of ASCII letters (hex digits in
// either case name the same digest); nullptr when there is none.
const CatMember* FindCatalogMember(const CatalogStore& store, std::string_view tag);

// Opens and reads a catalog. Fails with the code Windows leaves (a missing file gives
// ERROR_FILE_NOT_FOUND, a file that is not a catalog CRYPT_E_ASN1_BADTAG or similar).
Outcome<CatalogHandle> CryptCATOpen(const std::string& path, std::uint32_t publicVersion,
                                    std::uint32_t encodingType = kX509AsnEncoding |
                                                                 kPkcs7AsnEncoding);

} // namespace halyard::platform
