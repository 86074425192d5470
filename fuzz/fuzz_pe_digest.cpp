// The PE image layout reader and the digest over any bytes.
#include "halyard/trust/parse.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace halyard::trust;
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto layout = ParsePeLayout(bytes)) {
        if (layout->certTableOffset + layout->certTableSize > size) {
            __builtin_trap();
        }
    }
    (void)ComputeDigestsOfBytes(bytes, SubjectDigestKind::PeImage);
    return 0;
}
