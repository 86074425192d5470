// Time stamps of a catalog signature: an RFC 3161 token and a legacy countersignature, read and
// checked against no trusted roots.
#include "platform/posix/trust_timestamp.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace halyard::platform;
    static const TrustAnchors anchors("/nonexistent-trust-folder");
    static const std::uint8_t signature[] = {0x01, 0x02, 0x03, 0x04};
    const std::span<const std::uint8_t> bytes(data, size);
    VerifyRfc3161Token(bytes, signature, {}, anchors);
    VerifyCounterSignature(bytes, signature, {}, anchors);
    return 0;
}
