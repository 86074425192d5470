#include "crypto/trust_store.h"

#include "base/hex.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "os/input_file.h"
#include "platform/files.h"

#include <filesystem>
#include <iterator>
#include <mutex>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace halyard::platform {

namespace {

using namespace codes;

// A certificate file is small; anything larger is not one.
constexpr std::uintmax_t kMaxTrustFileSize = 4u * 1024 * 1024;

bool ReadSmallFile(const std::filesystem::path& path, std::string& out) {
    const auto bytes = ReadInputFile(path.string(), kMaxTrustFileSize);
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
    auto* usages = static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr));
    if (usages == nullptr) {
        return critical == -1; // absent: every usage; present but unreadable: none
    }
    bool allowed = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages) && !allowed; ++i) {
        const std::string oid = ObjectText(sk_ASN1_OBJECT_value(usages, i));
        allowed = oid == usageOid || oid == "2.5.29.37.0"; // anyExtendedKeyUsage
    }
    EXTENDED_KEY_USAGE_free(usages);
    return allowed;
}

// Faults OpenSSL reports while building and checking a chain, collected so that they can be
// ranked as Windows ranks the chain's error status.
struct ChainFaults {
    bool signature = false;
    bool untrustedRoot = false;
    bool time = false;
    bool revoked = false;
    bool revocationFailure = false;
    bool usage = false;
    bool critical = false;
    bool basicConstraints = false;
    bool partial = false;
    bool distrust = false;
    bool other = false;
};

int CollectFault(int ok, X509_STORE_CTX* ctx) {
    if (ok != 0) {
        return 1;
    }
    auto* faults = static_cast<ChainFaults*>(X509_STORE_CTX_get_app_data(ctx));
    switch (X509_STORE_CTX_get_error(ctx)) {
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
        faults->signature = true;
        break;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        faults->untrustedRoot = true;
        break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        faults->time = true;
        break;
    case X509_V_ERR_CERT_REVOKED:
        faults->revoked = true;
        break;
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
        faults->revocationFailure = true;
        break;
    // Only CRLs present in the trust folder are consulted: a certificate without one, or with a
    // stale one, is not held against the chain (there is no network to fetch a fresh one).
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_DIFFERENT_CRL_SCOPE:
        break;
    case X509_V_ERR_INVALID_PURPOSE:
        faults->usage = true;
        break;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
    case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION:
        faults->critical = true;
        break;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_INVALID_NON_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
        faults->basicConstraints = true;
        break;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        faults->partial = true;
        break;
    case X509_V_ERR_CERT_REJECTED:
        faults->distrust = true;
        break;
    default:
        faults->other = true;
        break;
    }
    // Go on, so that every fault of the chain is seen before one is chosen.
    return 1;
}

// The chain's faults as one Windows trust code, in the order WinVerifyTrust's policy ranks the
// chain error status (signature, root, time, revocation, usage, extensions, constraints, partial
// chain, distrust).
std::uint32_t RankFaults(const ChainFaults& f) {
    if (f.signature) {
        return kTrustECertSignature;
    }
    if (f.untrustedRoot) {
        return kCertEUntrustedRoot;
    }
    if (f.time) {
        return kCertEExpired;
    }
    if (f.revoked) {
        return kCertERevoked;
    }
    if (f.revocationFailure) {
        return kCertERevocationFailure;
    }
    if (f.usage) {
        return kCertEWrongUsage;
    }
    if (f.critical) {
        return kCertECritical;
    }
    if (f.basicConstraints) {
        return kTrustEBasicConstraints;
    }
    if (f.partial || f.other) {
        return kCertEChaining;
    }
    if (f.distrust) {
        return kTrustEExplicitDistrust;
    }
    return 0;
}

std::string NameEntryText(const X509_NAME* name, int nid) {
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return {};
    }
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&utf8, data);
    if (n < 0) {
        return {};
    }
    std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
    OPENSSL_free(utf8);
    return text;
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
    X509_NAME* name = d2i_X509_NAME(nullptr, &in, (p - subject) + length);
    const bool ok = name != nullptr && NameHash(name, hash);
    X509_NAME_free(name);
    return ok;
}

} // namespace

TrustAnchors::TrustAnchors(const std::string& folder) : store_(X509_STORE_new()) {
    if (!store_) {
        return;
    }
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) {
        return;
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        const std::string ext = AsciiLower(it->path().extension().string());
        if (ext != ".pem" && ext != ".crt" && ext != ".cer" && ext != ".crl") {
            continue;
        }
        std::string bytes;
        if (!ReadSmallFile(it->path(), bytes)) {
            continue;
        }
        if (bytes.find("-----BEGIN") != std::string::npos) {
            BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
            char* name = nullptr;
            char* header = nullptr;
            unsigned char* data = nullptr;
            long length = 0;
            while (bio != nullptr && PEM_read_bio(bio, &name, &header, &data, &length) == 1) {
                const std::string type = name;
                std::string der(reinterpret_cast<const char*>(data),
                                static_cast<std::size_t>(length));
                if (type == PEM_STRING_X509 || type == PEM_STRING_X509_OLD) {
                    index(std::move(der), false);
                } else if (type == PEM_STRING_X509_TRUSTED) {
                    index(std::move(der), true);
                } else if (type == PEM_STRING_X509_CRL) {
                    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
                    if (X509_CRL* crl = d2i_X509_CRL(nullptr, &p, length)) {
                        crlCount_ += X509_STORE_add_crl(store_.get(), crl) == 1 ? 1 : 0;
                        X509_CRL_free(crl);
                    }
                }
                OPENSSL_free(name);
                OPENSSL_free(header);
                OPENSSL_free(data);
            }
            ERR_clear_error(); // the end of the PEM blocks reads as an error
            BIO_free(bio);
            continue;
        }
        unsigned long hash = 0;
        if (SubjectHashOfCertificate(bytes, hash)) {
            index(std::move(bytes), false);
            continue;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(bytes.size()))) {
            crlCount_ += X509_STORE_add_crl(store_.get(), crl) == 1 ? 1 : 0;
            X509_CRL_free(crl);
        }
    }
}

void TrustAnchors::index(std::string der, bool aux) {
    unsigned long hash = 0;
    if (!SubjectHashOfCertificate(der, hash)) {
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
    static const TrustAnchors anchors(TrustFolder());
    return anchors;
}

std::string TrustFolder() {
    return ProgramDirectory() + "trust";
}

ChainResult VerifyChain(const TrustAnchors& anchors, X509* leaf,
                        const std::vector<X509*>& untrusted, std::time_t at, const char* usageOid) {
    ChainResult result;
    STACK_OF(X509)* intermediates = sk_X509_new_null();
    for (X509* cert : untrusted) {
        sk_X509_push(intermediates, cert);
    }
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ChainFaults faults;
    X509_STORE* store = anchors.storeFor(leaf, untrusted);
    if (ctx == nullptr || store == nullptr ||
        X509_STORE_CTX_init(ctx, store, leaf, intermediates) != 1) {
        X509_STORE_CTX_free(ctx);
        sk_X509_free(intermediates);
        result.status = kCertEChaining;
        return result;
    }
    X509_STORE_CTX_set_app_data(ctx, &faults);
    X509_STORE_CTX_set_verify_cb(ctx, CollectFault);
    X509_STORE_CTX_set_time(ctx, 0, at);
    if (anchors.hasCrls()) {
        X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    }
    if (X509_verify_cert(ctx) < 0) {
        faults.other = true;
    }
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx);
    const int count = chain != nullptr ? sk_X509_num(chain) : 0;
    for (int i = 0; i < count; ++i) {
        X509* cert = sk_X509_value(chain, i);
        // The root's own usages are not held against the chain.
        const bool root = i == count - 1 && X509_check_issued(cert, cert) == X509_V_OK;
        if (!root && !AllowsUsage(cert, usageOid)) {
            faults.usage = true;
        }
    }
    for (int i = count - 1; i >= 0; --i) {
        result.chain.push_back(Summarize(sk_X509_value(chain, i)));
    }
    if (count == 0) {
        result.chain.push_back(Summarize(leaf));
    }
    result.status = RankFaults(faults);
    X509_STORE_CTX_free(ctx);
    sk_X509_free(intermediates);
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
    out = static_cast<std::int64_t>(timegm(&tm));
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

} // namespace halyard::platform
