// Time stamps of a catalog signature (an RFC 3161 token, a legacy countersignature) and the
// whole signature check of a catalog, read and checked against no trusted roots. The first byte
// chooses what the rest is.
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "trust_timestamp.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace halyard::trust;
    static const TrustAnchors anchors("/nonexistent-trust-folder");
    static const std::uint8_t signature[] = {0x01, 0x02, 0x03, 0x04};
    if (size == 0) {
        return 0;
    }
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        VerifyRfc3161Token(bytes, signature, {}, anchors);
        break;
    case 1:
        VerifyCounterSignature(bytes, signature, {}, anchors);
        break;
    default:
        if (const auto catalog = ParseCatalogBytes(bytes)) {
            VerifyParsedCatalogSignature(**catalog, anchors, 1600000000);
        }
        break;
    }
    return 0;
}
