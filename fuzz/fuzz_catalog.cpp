// Catalog bytes through the catalog reader, the trust-list reader and the CTL query (DER and
// Base64 paths).
#include "base/unicode.h"
#include "halyard/trust/parse.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto parsed = halyard::trust::ParseCatalogBytes(bytes);
    if (parsed) {
        const auto& catalog = *parsed.value();
        // Touch every span the trust layer will read, so a bad one shows up here.
        for (const auto& cert : catalog.certificates) {
            (void)catalog.bytes(cert);
        }
        for (const auto& signer : catalog.signerInfos) {
            (void)catalog.bytes(signer.der);
            (void)catalog.bytes(signer.legacyCounterSignature);
            (void)catalog.bytes(signer.rfc3161TimeStamp);
        }
        (void)catalog.bytes(catalog.ctlContent);
        for (const auto& member : catalog.store.members) {
            (void)FindCatalogMember(catalog.store, member.referenceTag);
            for (const auto& attr : member.attributes) {
                (void)attr.valueText();
            }
        }
        // One member looked up in the accepted bytes without building the others finds what
        // the whole list gives, under the tag as written and in lower case.
        if (!catalog.store.members.empty()) {
            const std::string& tag =
                catalog.store.members[size % catalog.store.members.size()].referenceTag;
            for (const std::string& asked : {tag, halyard::AsciiLower(tag)}) {
                const auto one = halyard::trust::ParseCatalogBytesFor(bytes, asked);
                if (!one) {
                    std::abort();
                }
                const auto* expected = FindCatalogMember(catalog.store, asked);
                const auto* found = FindCatalogMember(one.value()->store, asked);
                if (expected == nullptr || found == nullptr ||
                    expected->referenceTag != found->referenceTag ||
                    expected->digest != found->digest ||
                    expected->attributes.size() != found->attributes.size()) {
                    std::abort();
                }
            }
        }
        for (const auto& attr : catalog.store.catalogAttributes) {
            (void)attr.valueText();
        }
    }
    // Every catalog is a trust list; a trust list's parts lie within the bytes.
    const auto list = halyard::trust::ParseTrustList(bytes);
    if (parsed && !list) {
        std::abort();
    }
    if (list && (list->signedContent.size() > size || list->signerInfo.size() > size)) {
        std::abort();
    }
    (void)halyard::trust::QueryCtlBytes(bytes);
    return 0;
}
