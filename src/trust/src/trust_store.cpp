#include "base/calendar.h"
#include "base/hex.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "chain_helpers.h"
#include "file_access.h"
#include "halyard/trust/verify.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "trust_faults.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <limits>
#include <mutex>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace halyard::trust {

namespace {

using namespace codes;

// A certificate file is small; anything larger is not one.
constexpr std::uintmax_t kMaxTrustFileSize = 4u * 1024 * 1024;

bool ReadSmallFile(const std::filesystem::path& path, std::string& out) {
    const auto bytes = ReadFileWithin(path.string(), kMaxTrustFileSize);
    if (bytes) {
        out.assign(bytes->begin(), bytes->end());
    }
    return bytes.ok();
}

std::string ObjectText(const ASN1_OBJECT* object) {
    char buffer[128];
    const int n = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    return n > 0 && static_cast<std::size_t>(n) < sizeof buffer ? std::string(buffer, n)
                                                                : std::string();
}

// Does the certificate's extended key usage (when it has one) allow the usage?
bool AllowsUsage(X509* cert, const char* usageOid) {
    int critical = 0;
    const ExtendedKeyUsagePtr usages(static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr)));
    if (!usages) {
        return critical == -1; // absent: every usage; present but unreadable: none
    }
    bool allowed = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages.get()) && !allowed; ++i) {
        const std::string oid = ObjectText(sk_ASN1_OBJECT_value(usages.get(), i));
        allowed = oid == usageOid || oid == "2.5.29.37.0"; // anyExtendedKeyUsage
    }
    return allowed;
}

// CryptoAPI lets a certificate without a basicConstraints extension issue others (the 1997
// "Microsoft Root Authority", a v3 root whose only extension is the obsolete 2.5.29.1, roots the
// WHQL catalogs of 2009-2011; v1 and v2 certificates carry no extensions at all): the basic
// constraints are broken only when the extension is present and says cA=FALSE or its path length
// is exceeded. OpenSSL calls such an issuer "invalid CA certificate" (a self-signed v1 root
// apart). A key usage that leaves out certificate signing is still a fault, as before.
bool MayIssueWithoutBasicConstraints(X509* cert) {
    if (cert == nullptr || X509_get_ext_by_NID(cert, NID_basic_constraints, -1) >= 0) {
        return false;
    }
    return (X509_get_key_usage(cert) & KU_KEY_CERT_SIGN) != 0; // all bits without the extension
}

// Collects every fault OpenSSL reports while building and checking a chain, so that they can be
// ranked (trust_faults.h).
int CollectFault(int ok, X509_STORE_CTX* ctx) {
    if (ok != 0) {
        return 1;
    }
    if (X509_STORE_CTX_get_error(ctx) == X509_V_ERR_INVALID_CA &&
        MayIssueWithoutBasicConstraints(X509_STORE_CTX_get_current_cert(ctx))) {
        return 1;
    }
    auto* faults = static_cast<ChainFaults*>(X509_STORE_CTX_get_app_data(ctx));
    if (const auto fault = ChainFaultOf(X509_STORE_CTX_get_error(ctx))) {
        Add(*faults, *fault);
    }
    // Go on, so that every fault of the chain is seen before one is chosen.
    return 1;
}

std::string NameEntryText(const X509_NAME* name, int nid) {
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return {};
    }
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&utf8, data);
    const OpenSslBytesPtr owner(utf8);
    if (n < 0) {
        return {};
    }
    return std::string(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
}

// CERT_NAME_SIMPLE_DISPLAY_TYPE: the common name, else the organisational unit, else the
// organisation, else the e-mail address.
std::string SimpleDisplayName(const X509_NAME* name) {
    for (const int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                          NID_pkcs9_emailAddress}) {
        std::string text = NameEntryText(name, nid);
        if (!text.empty()) {
            return text;
        }
    }
    return {};
}

} // namespace

namespace {

// The canonical hash of a name, as OpenSSL's certificate lookup uses it.
bool NameHash(const X509_NAME* name, unsigned long& hash) {
    int ok = 0;
    hash = X509_NAME_hash_ex(name, nullptr, nullptr, &ok);
    return ok == 1;
}

// Reads one element header at p (within end); false when it is malformed.
bool NextElement(const unsigned char*& p, const unsigned char* end, long& length, int& tag,
                 int& cls) {
    if (p >= end) {
        return false;
    }
    const int flags = ASN1_get_object(&p, &length, &tag, &cls, end - p);
    return (flags & 0x80) == 0 && length >= 0 && length <= end - p;
}

// The hash of a certificate's subject, read from its DER without parsing the whole certificate.
bool SubjectHashOfCertificate(const std::string& der, unsigned long& hash) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const unsigned char* end = p + der.size();
    long length = 0;
    int tag = 0;
    int cls = 0;
    // Certificate, then TBSCertificate.
    for (int level = 0; level < 2; ++level) {
        if (!NextElement(p, end, length, tag, cls) || tag != V_ASN1_SEQUENCE) {
            return false;
        }
        end = p + length;
    }
    // [0] version (optional), serial number, signature algorithm, issuer, validity: skipped.
    for (int field = 0; field < 5; ++field) {
        const unsigned char* start = p;
        if (!NextElement(p, end, length, tag, cls)) {
            return false;
        }
        if (field == 0 && !(cls == V_ASN1_CONTEXT_SPECIFIC && tag == 0)) {
            p = start; // no version: this was the serial number
            continue;
        }
        p += length;
    }
    const unsigned char* subject = p;
    if (!NextElement(p, end, length, tag, cls) || tag != V_ASN1_SEQUENCE) {
        return false;
    }
    const unsigned char* in = subject;
    const X509NamePtr name(d2i_X509_NAME(nullptr, &in, (p - subject) + length));
    return name && NameHash(name.get(), hash);
}

} // namespace

TrustAnchors::TrustAnchors(const std::string& folder)
    : TrustAnchors(std::vector<std::string>{folder}) {}

TrustAnchors::TrustAnchors(const std::vector<std::string>& folders) : store_(X509_STORE_new()) {
    if (!store_) {
        return;
    }
    for (const auto& folder : folders) {
        // Subjects an earlier folder holds shadow the same subjects in later ones.
        shadowed_.clear();
        for (const auto& entry : bySubject_) {
            shadowed_.insert(entry.first);
        }
        read(folder);
    }
    shadowed_.clear();
}

namespace {

// The certificate and CRL files of a trust folder, in name order.
std::vector<std::filesystem::path> TrustFolderFiles(const std::string& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) {
        return files;
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        if (IsTrustFileName(it->path().filename().string())) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

bool IsTrustFileName(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return false;
    }
    const std::string ext = AsciiLower(name.substr(dot));
    return ext == ".pem" || ext == ".crt" || ext == ".cer" || ext == ".crl";
}

void DigestField(Digest& digest, std::string_view field) {
    const std::uint64_t size = field.size();
    digest.update(&size, sizeof size);
    digest.update(field.data(), field.size());
}

std::vector<std::uint8_t> TrustFoldersDigest(const std::vector<std::string>& folders) {
    Digest digest(DigestAlgorithm::Sha256);
    for (const auto& folder : folders) {
        DigestField(digest, "folder");
        DigestField(digest, folder);
        for (const auto& path : TrustFolderFiles(folder)) {
            std::string bytes;
            const bool read = ReadSmallFile(path, bytes);
            DigestField(digest, path.filename().string());
            DigestField(digest, read ? "read" : "unreadable");
            DigestField(digest, bytes);
        }
    }
    return digest.finish();
}

std::vector<std::uint8_t> TrustFoldersStamp(const std::vector<std::string>& folders,
                                            std::time_t now, bool& settled) {
    settled = true;
    Digest digest(DigestAlgorithm::Sha256);
    DigestTrustFolderStamps(digest, folders, now, settled);
    return digest.finish();
}

std::time_t TrustAnchors::nextChangeAfter(std::time_t now) const {
    std::int64_t next = std::numeric_limits<std::int64_t>::max();
    const auto consider = [&](const ASN1_TIME* time) {
        std::int64_t at = 0;
        if (time != nullptr && AsnTimeToUnix(time, at) && at > now) {
            next = std::min(next, at);
        }
    };
    if (store_) {
        STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store_.get());
        for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
            X509_OBJECT* object = sk_X509_OBJECT_value(objects, i);
            if (X509* cert = X509_OBJECT_get0_X509(object)) {
                consider(X509_get0_notBefore(cert));
                consider(X509_get0_notAfter(cert));
            } else if (X509_CRL* crl = X509_OBJECT_get0_X509_CRL(object)) {
                consider(X509_CRL_get0_lastUpdate(crl));
                consider(X509_CRL_get0_nextUpdate(crl));
            }
        }
    }
    return static_cast<std::time_t>(next);
}

void TrustAnchors::read(const std::string& folder) {
    for (const auto& path : TrustFolderFiles(folder)) {
        std::string bytes;
        if (!ReadSmallFile(path, bytes)) {
            continue;
        }
        if (bytes.find("-----BEGIN") != std::string::npos) {
            const BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
            char* name = nullptr;
            char* header = nullptr;
            unsigned char* data = nullptr;
            long length = 0;
            while (bio && PEM_read_bio(bio.get(), &name, &header, &data, &length) == 1) {
                const OpenSslTextPtr nameOwner(name);
                const OpenSslTextPtr headerOwner(header);
                const OpenSslBytesPtr dataOwner(data);
                const std::string type = name;
                std::string der(reinterpret_cast<const char*>(data),
                                static_cast<std::size_t>(length));
                if (type == PEM_STRING_X509 || type == PEM_STRING_X509_OLD) {
                    index(std::move(der), false);
                } else if (type == PEM_STRING_X509_TRUSTED) {
                    index(std::move(der), true);
                } else if (type == PEM_STRING_X509_CRL) {
                    addCrl(der);
                }
            }
            ERR_clear_error(); // the end of the PEM blocks reads as an error
            continue;
        }
        unsigned long hash = 0;
        if (SubjectHashOfCertificate(bytes, hash)) {
            index(std::move(bytes), false);
            continue;
        }
        addCrl(bytes);
    }
}

void TrustAnchors::addCrl(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const X509CrlPtr crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
    if (crl && X509_STORE_add_crl(store_.get(), crl.get()) == 1) {
        ++crlCount_;
    }
}

void TrustAnchors::index(std::string der, bool aux) {
    unsigned long hash = 0;
    if (!SubjectHashOfCertificate(der, hash) || shadowed_.contains(hash)) {
        return;
    }
    bySubject_.emplace(hash, certificates_.size());
    certificates_.push_back({std::move(der), aux, false});
}

void TrustAnchors::loadIssuersOf(X509* cert, int depth) const {
    unsigned long hash = 0;
    if (depth > 8 || !NameHash(X509_get_issuer_name(cert), hash)) {
        return;
    }
    const auto [first, last] = bySubject_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        Anchor& anchor = certificates_[it->second];
        if (anchor.loaded) {
            continue;
        }
        anchor.loaded = true;
        const auto* p = reinterpret_cast<const unsigned char*>(anchor.der.data());
        const long length = static_cast<long>(anchor.der.size());
        X509Ptr root(anchor.aux ? d2i_X509_AUX(nullptr, &p, length)
                                : d2i_X509(nullptr, &p, length));
        if (!root) {
            continue;
        }
        X509_STORE_add_cert(store_.get(), root.get());
        // A root of the folder may itself be cross-signed by another one.
        if (X509_check_issued(root.get(), root.get()) != X509_V_OK) {
            loadIssuersOf(root.get(), depth + 1);
        }
    }
}

X509_STORE* TrustAnchors::storeFor(X509* leaf, const std::vector<X509*>& untrusted) const {
    if (!store_) {
        return nullptr;
    }
    loadIssuersOf(leaf, 0);
    for (X509* cert : untrusted) {
        loadIssuersOf(cert, 0);
    }
    return store_.get();
}

const TrustAnchors& ProcessTrustAnchors() {
    static const TrustAnchors anchors(TrustFolders());
    return anchors;
}

ChainResult VerifyChain(const TrustAnchors& anchors, X509* leaf,
                        const std::vector<X509*>& untrusted, std::time_t at, const char* usageOid) {
    ChainResult result;
    // The stack lists the caller's certificates; it does not own them.
    const X509ListPtr intermediates(sk_X509_new_null());
    for (X509* cert : untrusted) {
        sk_X509_push(intermediates.get(), cert);
    }
    const X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    ChainFaults faults;
    X509_STORE* store = anchors.storeFor(leaf, untrusted);
    if (!ctx || store == nullptr ||
        X509_STORE_CTX_init(ctx.get(), store, leaf, intermediates.get()) != 1) {
        result.status = kCertEChaining;
        return result;
    }
    X509_STORE_CTX_set_app_data(ctx.get(), &faults);
    X509_STORE_CTX_set_verify_cb(ctx.get(), CollectFault);
    X509_STORE_CTX_set_time(ctx.get(), 0, at);
    if (anchors.hasCrls()) {
        X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    }
    if (X509_verify_cert(ctx.get()) < 0) {
        Add(faults, ChainFault::Chaining);
    }
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    const int count = chain != nullptr ? sk_X509_num(chain) : 0;
    for (int i = 0; i < count; ++i) {
        X509* cert = sk_X509_value(chain, i);
        // The root's own usages are not held against the chain.
        const bool root = i == count - 1 && X509_check_issued(cert, cert) == X509_V_OK;
        if (!root && !AllowsUsage(cert, usageOid)) {
            Add(faults, ChainFault::Usage);
        }
    }
    for (int i = count - 1; i >= 0; --i) {
        result.chain.push_back(Summarize(sk_X509_value(chain, i)));
    }
    if (count == 0) {
        result.chain.push_back(Summarize(leaf));
    }
    result.status = TrustCodeOf(faults);
    return result;
}

X509* FindCertificate(const std::vector<X509*>& certs, const X509_NAME* issuer,
                      const ASN1_INTEGER* serial) {
    if (issuer == nullptr || serial == nullptr) {
        return nullptr;
    }
    for (X509* cert : certs) {
        if (X509_NAME_cmp(X509_get_issuer_name(cert), issuer) == 0 &&
            ASN1_INTEGER_cmp(X509_get0_serialNumber(cert), serial) == 0) {
            return cert;
        }
    }
    return nullptr;
}

CertificateSummary Summarize(X509* cert) {
    CertificateSummary summary;
    summary.issuedTo = SimpleDisplayName(X509_get_subject_name(cert));
    summary.issuedBy = SimpleDisplayName(X509_get_issuer_name(cert));
    AsnTimeToUnix(X509_get0_notAfter(cert), summary.notAfter);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha1(), digest, &length) == 1) {
        summary.sha1Hex = HexUpper(std::span<const std::uint8_t>(digest, length));
    }
    return summary;
}

bool AsnTimeToUnix(const ASN1_TIME* time, std::int64_t& out) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
        return false;
    }
    // The fields are UTC and normalized; the calendar's day count rather than timegm, which
    // Windows lacks.
    out = DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400 + tm.tm_hour * 3600 +
          tm.tm_min * 60 + tm.tm_sec;
    return true;
}

std::vector<std::uint8_t> DigestWith(const ASN1_OBJECT* algorithm,
                                     std::span<const std::uint8_t> data) {
    const EVP_MD* md = algorithm != nullptr ? EVP_get_digestbyobj(algorithm) : nullptr;
    if (md == nullptr) {
        return {};
    }
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) != 1) {
        return {};
    }
    out.resize(length);
    return out;
}

} // namespace halyard::trust
