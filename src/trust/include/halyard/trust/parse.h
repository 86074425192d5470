// The trust engine's parse side, the way Windows reads what it trusts: a catalog (a PKCS#7
// SignedData around a certificate trust list, presented as CryptCATOpen presents it, with its
// signers and the places of their time stamps), any other trust list, and the subject digests of a
// PE image or a flat file. Malformed input is refused with the code Windows would leave (callers
// pass the codes on), never read past. What is trusted is decided by verify.h.
#pragma once

#include "base/outcome.h"
#include "platform/catalog.h"
#include "platform/ctl.h"
#include "platform/hash.h"
#include "platform/sip.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halyard::trust {

// The engine reads and answers in the platform's vocabulary: the structures and constants of the
// Windows services it stands in for (platform/catalog.h, ctl.h, hash.h, sip.h).
using platform::CatalogStore;
using platform::CatAttribute;
using platform::CatMember;
using platform::CtlQueryResult;
using platform::Digest;
using platform::DigestAlgorithm;
using platform::FileTime;
using platform::Guid;
using platform::kOidSha1;
using platform::kOidSha256;
using platform::kOidSha256RsaEncryption;
using platform::SipSubjectInfo;

inline constexpr const char* kOidSignedData = "1.2.840.113549.1.7.2";
inline constexpr const char* kOidCtl = "1.3.6.1.4.1.311.10.1";
inline constexpr const char* kOidCatalogList = "1.3.6.1.4.1.311.12.1.1";
inline constexpr const char* kOidCatalogListMember = "1.3.6.1.4.1.311.12.1.2";  // v1
inline constexpr const char* kOidCatalogListMember2 = "1.3.6.1.4.1.311.12.1.3"; // v2
inline constexpr const char* kOidCatNameValue = "1.3.6.1.4.1.311.12.2.1";
inline constexpr const char* kOidCatMemberInfo = "1.3.6.1.4.1.311.12.2.2";
inline constexpr const char* kOidCatMemberInfo2 = "1.3.6.1.4.1.311.12.2.3";
inline constexpr const char* kOidSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";
inline constexpr const char* kOidSpcPeImageData = "1.3.6.1.4.1.311.2.1.15";
inline constexpr const char* kOidSpcFlatImageData = "1.3.6.1.4.1.311.2.1.25";
inline constexpr const char* kOidCounterSignature = "1.2.840.113549.1.9.6";
inline constexpr const char* kOidRfc3161TimeStamp = "1.3.6.1.4.1.311.3.3.1";

// Files larger than this are refused without being read. Real driver catalogs stay far
// below it (a member costs a few hundred bytes, so thousands of files make one or two MiB);
// parsing costs about six times the file's size in memory, and the cap keeps a run within
// its 64 MiB.
inline constexpr std::uint64_t kMaxCatalogFileSize = 8ull * 1024 * 1024;

// A byte range inside ParsedCatalog::der.
struct ByteSpan {
    std::size_t offset = 0;
    std::size_t size = 0;
    bool empty() const { return size == 0; }
};

// One SignerInfo of the SignedData, located for the trust layer (which parses it with OpenSSL).
struct ParsedSignerInfo {
    ByteSpan der;                    // the whole SignerInfo, tag and length included
    ByteSpan legacyCounterSignature; // first value of unsigned attribute 1.2.840.113549.1.9.6
                                     // (a SignerInfo, tag and length included); empty if absent
    ByteSpan rfc3161TimeStamp;       // first value of unsigned attribute 1.3.6.1.4.1.311.3.3.1
                                     // (a ContentInfo, tag and length included); empty if absent
};

struct ParsedCatalog {
    // Attributes and members as CryptCATOpen presents them (path set by ParseCatalogFile).
    CatalogStore store;
    FileTime thisUpdate = 0; // the CTL's ThisUpdate as FILETIME (UTC)
    int version = 0;         // 1 for .311.12.1.2, 2 for .311.12.1.3
    std::string subjectAlgorithmOid;

    // The ContentInfo exactly as encoded (bytes after its DER length are dropped); empty after
    // a member-only parse (ParseCatalogBytesFor).
    std::vector<std::uint8_t> der;
    ByteSpan ctl;        // the encapsulated CTL SEQUENCE, tag and length included
    ByteSpan ctlContent; // the CTL's contents octets: what the signer's message digest covers
    // Each entry of the SignedData's certificate set that is a certificate (a SEQUENCE), in order.
    std::vector<ByteSpan> certificates;
    // Empty for an unsigned catalog.
    std::vector<ParsedSignerInfo> signerInfos;

    // The bytes of a span; none when der does not hold them (a member-only parse), so that a
    // signature check on such a parse fails rather than reads outside der.
    std::span<const std::uint8_t> bytes(ByteSpan span) const {
        if (span.offset > der.size() || span.size > der.size() - span.offset) {
            return {};
        }
        return std::span<const std::uint8_t>(der).subspan(span.offset, span.size);
    }
};

// Parses catalog bytes. Refuses (with the code CryptCATOpen would leave) anything that is not a
// SignedData carrying a CTL with the catalog subject usage:
//   CRYPT_E_ASN1_BADTAG     the bytes are not a DER ContentInfo, or a field has the wrong type;
//   CRYPT_E_ASN1_EOD        an encoding runs past the end of the data;
//   CRYPT_E_INVALID_MSG_TYPE the ContentInfo is not SignedData;
//   CRYPT_E_UNEXPECTED_MSG_TYPE the encapsulated content is not a CTL, or the CTL is not a
//                           catalog (another subject usage, such as a root list).
Outcome<std::shared_ptr<const ParsedCatalog>>
ParseCatalogBytes(std::span<const std::uint8_t> bytes);

// As ParseCatalogBytes, but of the members only those whose tag equals memberTag without
// regard to case are built (FindCatalogMember finds in them the member it finds in the whole
// list). The other members' attributes are not decoded, so a fault in one of them goes unseen:
// only for bytes that a whole parse has already accepted, where one lookup in a large catalog
// must not cost the decoding of every member. The result carries no signed bytes: a signature
// check on it fails.
Outcome<std::shared_ptr<const ParsedCatalog>>
ParseCatalogBytesFor(std::span<const std::uint8_t> bytes, std::string_view memberTag);

// The bytes of a catalog file as ParseCatalogFile reads them (the same codes on failure).
Outcome<std::vector<std::uint8_t>> ReadCatalogFile(const std::string& path);

// Reads and parses a catalog file. Results are cached in the process keyed by path and
// FileStamp, so many lookups against one catalog parse it once. Fails with the file's error code
// (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...), ERROR_NOT_ENOUGH_MEMORY for a file larger
// than kMaxCatalogFileSize, or a code of ParseCatalogBytes.
Outcome<std::shared_ptr<const ParsedCatalog>> ParseCatalogFile(const std::string& path);

// Any CTL (catalog or not), as CryptQueryObject with CERT_QUERY_CONTENT_FLAG_CTL reads it: the
// bytes are DER or Base64 text of DER. Fails with CRYPT_E_NO_MATCH for other content.
Outcome<CtlQueryResult> QueryCtlBytes(std::span<const std::uint8_t> bytes);

// A certificate trust list of any usage (a catalog, Microsoft's list of roots), in parts.
struct TrustList {
    struct Attribute {
        std::string oid;
        std::vector<std::vector<std::uint8_t>> values; // each value's contents octets
    };
    struct Entry {
        std::vector<std::uint8_t> identifier; // the subject identifier's contents octets
        std::vector<Attribute> attributes;
    };
    std::vector<std::string> usage; // the subject usages' object identifiers
    FileTime thisUpdate = 0;
    std::vector<Entry> entries;
    // The envelope: each certificate's DER, the first SignerInfo as stored (empty when the list
    // is unsigned) and the content its message digest covers.
    std::vector<std::vector<std::uint8_t>> certificates;
    std::vector<std::uint8_t> signerInfo;
    std::vector<std::uint8_t> signedContent;
};

// A SignedData around a CTL, whatever its usage; the codes of ParseCatalogBytes for anything
// else.
Outcome<TrustList> ParseTrustList(std::span<const std::uint8_t> bytes);

// Subject interface packages: which package a file belongs to and what each one digests.
enum class SubjectPackage { PeImage, Flat, Catalog, Cabinet };

// The package of a file as CryptSIPRetrieveSubjectGuid detects it: "MZ" with valid PE headers
// is a PE image, "MSCF" a cabinet, a DER SEQUENCE whose length fits the file a catalog. Fails
// with the file's code, ERROR_INVALID_PARAMETER for fewer than four bytes, and
// TRUST_E_SUBJECT_FORM_UNKNOWN for anything else (the caller then takes the flat package).
Outcome<SubjectPackage> DetectSubjectPackage(const std::string& path);

// CryptSIPCreateIndirectData's size query, answered without reading the content: the byte count
// of the indirect data, or ERROR_INVALID_PARAMETER (no file name), NTE_BAD_ALGID (an algorithm
// the package cannot hash; the cabinet package hashes none), ERROR_BAD_FORMAT (a PE package
// asked of a file that is not one) or the file's code.
Outcome<std::uint32_t> SubjectIndirectDataSize(SubjectPackage package,
                                               const SipSubjectInfo& subject);
// Its second call: the digest, as FileDigestOf computes it (the catalog package as the flat one).
Outcome<std::vector<std::uint8_t>> SubjectIndirectDataDigest(SubjectPackage package,
                                                             const SipSubjectInfo& subject);

// Subject digests: the Authenticode PE image digest and the flat digest, SHA-1 or SHA-256 in a
// streaming pass, with a small cache of the last files hashed so that the member tag and the
// trust check share one pass over each file.
// Where the three ranges that the PE image digest leaves out lie in a file.
struct PeLayout {
    std::uint64_t fileSize = 0;
    std::uint64_t checksumOffset = 0;      // optional header + 64, 4 bytes
    std::uint64_t certDirectoryOffset = 0; // the Certificate Table entry, 8 bytes
    std::uint64_t certTableOffset = 0;     // a file offset; 0 with size 0 for an unsigned image
    std::uint64_t certTableSize = 0;
    bool hasCertTable() const { return certTableSize != 0; }
};

// Reads up to size bytes at offset; returns the count read (fewer at the end of the file).
using ReadAtFn = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t size)>;

// The layout of a PE image, or nothing when the bytes are not one: no "MZ", no "PE\0\0" at
// e_lfanew, an optional-header magic other than 0x10B/0x20B, fewer than 5 data directories, or a
// certificate table that overlaps the headers or runs past the end of the file.
std::optional<PeLayout> ParsePeLayout(const ReadAtFn& readAt, std::uint64_t fileSize);
std::optional<PeLayout> ParsePeLayout(std::span<const std::uint8_t> image);

enum class SubjectDigestKind { PeImage, Flat };

struct FileDigests {
    std::vector<std::uint8_t> sha1;
    std::vector<std::uint8_t> sha256;
};

// Both digests of a whole in-memory image (tests, fuzzing). PeImage fails with ERROR_BAD_FORMAT
// for bytes that are not a PE image.
Outcome<FileDigests> ComputeDigestsOfBytes(std::span<const std::uint8_t> bytes,
                                           SubjectDigestKind kind);

// How many passes over file content the digest functions have made in this process (tests
// and benchmarks check that the cache spares the second pass).
std::uint64_t DigestPassCount();

// One digest of a file, streamed (never read whole): only the algorithm asked for is computed
// (a SHA-256 catalog never needs the SHA-1 pass). Served from the cache when the file's path and
// FileStamp match a recent computation of that kind and algorithm. Fails with the file's Win32
// code when it cannot be opened, ERROR_BAD_FORMAT when a PE digest is asked of a file that is
// not a PE image, and STATUS_IN_PAGE_ERROR when reading fails or the file shrinks while it is
// hashed.
Outcome<std::vector<std::uint8_t>> FileDigestOf(const std::string& path, SubjectDigestKind kind,
                                                DigestAlgorithm alg);

// True when the file opens and is a PE image (headers only are read). Fails with the file's code.
Outcome<bool> IsPeImageFile(const std::string& path);

} // namespace halyard::trust
