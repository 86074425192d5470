#include "root_list.h"

#include "crypto/catalog_internal.h"
#include "crypto/trust_signature.h"
#include "crypto/trust_store.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace halyard::trust_roots {

namespace {

using platform::der::Cursor;
using platform::der::Element;

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
std::set<std::string> UsagesOf(std::span<const std::uint8_t> data, const Element& value) {
    std::set<std::string> usages;
    const auto contents = platform::der::Contents(data, value);
    Cursor outer(contents);
    Element sequence;
    if (!outer.expect(platform::der::kUniversal, platform::der::kTagSequence, sequence)) {
        throw std::runtime_error("a usage property that is not a list of usages");
    }
    Cursor oids(contents, sequence);
    Element oid;
    while (oids.next(oid)) {
        const auto text = platform::der::OidText(contents, oid);
        if (!text) {
            throw std::runtime_error("a usage property that is not a list of usages");
        }
        usages.insert(*text);
    }
    return usages;
}

void VerifyListSignature(const platform::catalog_detail::Envelope& env,
                         std::span<const std::uint8_t> bytes, std::time_t at,
                         const std::string& rootsFolder) {
    if (env.signerInfos.empty()) {
        throw std::runtime_error("the list is not signed");
    }
    std::vector<platform::X509Ptr> owned;
    std::vector<X509*> certs;
    for (const auto& span : env.certificates) {
        const unsigned char* p = bytes.data() + span.offset;
        platform::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(span.size)));
        if (cert) {
            certs.push_back(cert.get());
            owned.push_back(std::move(cert));
        }
    }
    const auto signerDer =
        bytes.subspan(env.signerInfos.front().der.offset, env.signerInfos.front().der.size);
    const unsigned char* p = signerDer.data();
    platform::SignerInfoPtr info(
        d2i_PKCS7_SIGNER_INFO(nullptr, &p, static_cast<long>(signerDer.size())));
    if (!info || info->issuer_and_serial == nullptr) {
        throw std::runtime_error("the list's signer cannot be read");
    }
    X509* signer = platform::FindCertificate(certs, info->issuer_and_serial->issuer,
                                             info->issuer_and_serial->serial);
    if (signer == nullptr) {
        throw std::runtime_error("the list does not carry its signer's certificate");
    }
    const auto content = bytes.subspan(env.ctlContent.offset, env.ctlContent.size);
    if (!platform::VerifySignerInfo(signerDer, signer, content)) {
        throw std::runtime_error("the list's signature does not match its content");
    }
    const platform::TrustAnchors anchors(rootsFolder);
    const auto chain = platform::VerifyChain(anchors, signer, certs, at, kOidRootListSigner);
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
    std::vector<std::uint8_t> data;
    if (const auto code = platform::catalog_detail::ReadWholeFile(path, data)) {
        throw std::runtime_error("cannot read " + path + " (" + CodeText(code) + ")");
    }
    const std::span<const std::uint8_t> bytes(data);
    const auto envelope = platform::catalog_detail::ParseEnvelope(bytes);
    if (!envelope) {
        throw std::runtime_error(path + " is not a signed trust list (" +
                                 CodeText(envelope.error()) + ")");
    }
    const platform::catalog_detail::Envelope& env = *envelope;
    const auto ctl = platform::catalog_detail::ParseCtl(bytes, env.ctl);
    if (!ctl) {
        throw std::runtime_error(path + " is not a signed trust list (" + CodeText(ctl.error()) +
                                 ")");
    }
    const platform::catalog_detail::CtlParts& parts = *ctl;
    if (std::find(parts.usage.begin(), parts.usage.end(), kOidRootListSigner) ==
        parts.usage.end()) {
        throw std::runtime_error(path + " is a trust list, but not a list of roots");
    }
    RootList list;
    list.thisUpdate = UnixTime(parts.thisUpdate);
    // The list is judged as of its own date: a snapshot stays verifiable after its signer's
    // certificate has run out.
    VerifyListSignature(env, bytes, list.thisUpdate, rootsFolder);

    for (const auto& ctlEntry : parts.entries) {
        const auto id = platform::der::Contents(bytes, ctlEntry.identifier);
        if (id.size() != 20) {
            continue; // not a SHA-1 thumbprint
        }
        RootEntry entry;
        entry.sha1Hex = Hex(id);
        entry.allUses = true;
        for (const auto& attribute : ctlEntry.attributes) {
            if (attribute.oid != kOidEnhancedKeyUsageProperty) {
                continue;
            }
            entry.allUses = false;
            for (const auto& value : attribute.values) {
                const auto usages = UsagesOf(bytes, value);
                entry.usages.insert(usages.begin(), usages.end());
            }
        }
        list.entries.push_back(std::move(entry));
    }
    return list;
}

} // namespace halyard::trust_roots
