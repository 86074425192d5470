#include "root_list.h"

#include "halyard/trust/verify.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace halyard::trust_roots {

namespace {

// FILETIME (100 ns since 1601) to seconds since 1970.
std::time_t UnixTime(platform::FileTime time) {
    return static_cast<std::time_t>(time / 10000000 - 11644473600ull);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char buf[3];
    for (const std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        text += buf;
    }
    return text;
}

std::string CodeText(std::uint32_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", code);
    return buf;
}

// The value of the usage property: an OCTET STRING holding a SEQUENCE OF OBJECT IDENTIFIER.
std::set<std::string> UsagesOf(const std::vector<std::uint8_t>& contents) {
    const unsigned char* p = contents.data();
    const trust::ExtendedKeyUsagePtr oids(
        d2i_EXTENDED_KEY_USAGE(nullptr, &p, static_cast<long>(contents.size())));
    if (!oids) {
        throw std::runtime_error("a usage property that is not a list of usages");
    }
    std::set<std::string> usages;
    for (int i = 0; i < sk_ASN1_OBJECT_num(oids.get()); ++i) {
        char text[128];
        const int n = OBJ_obj2txt(text, sizeof text, sk_ASN1_OBJECT_value(oids.get(), i), 1);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof text) {
            throw std::runtime_error("a usage property that is not a list of usages");
        }
        usages.insert(text);
    }
    return usages;
}

void VerifyListSignature(const trust::TrustList& list, std::time_t at,
                         const std::string& rootsFolder) {
    if (list.signerInfo.empty()) {
        throw std::runtime_error("the list is not signed");
    }
    std::vector<trust::X509Ptr> owned;
    std::vector<X509*> certs;
    for (const auto& der : list.certificates) {
        const unsigned char* p = der.data();
        trust::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
        if (cert) {
            certs.push_back(cert.get());
            owned.push_back(std::move(cert));
        }
    }
    const unsigned char* p = list.signerInfo.data();
    trust::SignerInfoPtr info(
        d2i_PKCS7_SIGNER_INFO(nullptr, &p, static_cast<long>(list.signerInfo.size())));
    if (!info || info->issuer_and_serial == nullptr) {
        throw std::runtime_error("the list's signer cannot be read");
    }
    X509* signer = trust::FindCertificate(certs, info->issuer_and_serial->issuer,
                                          info->issuer_and_serial->serial);
    if (signer == nullptr) {
        throw std::runtime_error("the list does not carry its signer's certificate");
    }
    if (!trust::VerifySignerInfo(list.signerInfo, signer, list.signedContent)) {
        throw std::runtime_error("the list's signature does not match its content");
    }
    const trust::TrustAnchors anchors(rootsFolder);
    const auto chain = trust::VerifyChain(anchors, signer, certs, at, kOidRootListSigner);
    if (chain.status != 0) {
        throw std::runtime_error("the list's signer does not chain to a root of " + rootsFolder +
                                 " as a root list signer (" + CodeText(chain.status) + ")");
    }
}

} // namespace

bool RootEntry::enabledForCodeSigning() const {
    return allUses || usages.contains(kOidCodeSigning) || usages.contains(kOidTimeStamping);
}

RootList ReadVerifiedRootList(const std::string& path, const std::string& rootsFolder) {
    const auto data = trust::ReadCatalogFile(path);
    if (!data) {
        throw std::runtime_error("cannot read " + path + " (" + CodeText(data.error()) + ")");
    }
    const auto parsed = trust::ParseTrustList(*data);
    if (!parsed) {
        throw std::runtime_error(path + " is not a signed trust list (" + CodeText(parsed.error()) +
                                 ")");
    }
    const trust::TrustList& parts = *parsed;
    if (std::find(parts.usage.begin(), parts.usage.end(), kOidRootListSigner) ==
        parts.usage.end()) {
        throw std::runtime_error(path + " is a trust list, but not a list of roots");
    }
    RootList list;
    list.thisUpdate = UnixTime(parts.thisUpdate);
    // The list is judged as of its own date: a snapshot stays verifiable after its signer's
    // certificate has run out.
    VerifyListSignature(parts, list.thisUpdate, rootsFolder);

    for (const auto& ctlEntry : parts.entries) {
        if (ctlEntry.identifier.size() != 20) {
            continue; // not a SHA-1 thumbprint
        }
        RootEntry entry;
        entry.sha1Hex = Hex(ctlEntry.identifier);
        entry.allUses = true;
        for (const auto& attribute : ctlEntry.attributes) {
            if (attribute.oid != kOidEnhancedKeyUsageProperty) {
                continue;
            }
            entry.allUses = false;
            for (const auto& value : attribute.values) {
                const auto usages = UsagesOf(value);
                entry.usages.insert(usages.begin(), usages.end());
            }
        }
        list.entries.push_back(std::move(entry));
    }
    return list;
}

} // namespace halyard::trust_roots
