#include "platform/hash.h"

namespace halyard::platform {

void Digest::update(std::span<const std::uint8_t> data) {
    update(data.data(), data.size());
}

std::vector<std::uint8_t> DigestOf(DigestAlgorithm alg, std::span<const std::uint8_t> data) {
    Digest d(alg);
    d.update(data);
    return d.finish();
}

} // namespace halyard::platform
