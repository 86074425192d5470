#include "platform/hash.h"

// The low-level digest functions rather than EVP: an EVP digest is fetched from a provider, and
// the first fetch in a process builds OpenSSL's whole algorithm name map (about 0.8 ms, a fifth
// of the SignTool stand-in's start, which runs once per checked file). The implementations are
// the same (SHA extensions where the processor has them). OpenSSL 3 marks them deprecated, not
// removed.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>
#include <variant>

namespace halyard::platform {

struct Digest::State {
    std::variant<SHA_CTX, SHA256_CTX> ctx;
};

Digest::Digest(DigestAlgorithm alg) : alg_(alg), state_(std::make_unique<State>()) {
    if (alg == DigestAlgorithm::Sha1) {
        SHA1_Init(&state_->ctx.emplace<SHA_CTX>());
    } else {
        SHA256_Init(&state_->ctx.emplace<SHA256_CTX>());
    }
}

Digest::~Digest() = default;

void Digest::update(const void* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    if (auto* sha1 = std::get_if<SHA_CTX>(&state_->ctx)) {
        SHA1_Update(sha1, data, size);
    } else {
        SHA256_Update(&std::get<SHA256_CTX>(state_->ctx), data, size);
    }
}

std::vector<std::uint8_t> Digest::finish() {
    std::vector<std::uint8_t> out;
    if (auto* sha1 = std::get_if<SHA_CTX>(&state_->ctx)) {
        out.resize(SHA_DIGEST_LENGTH);
        SHA1_Final(out.data(), sha1);
    } else {
        out.resize(SHA256_DIGEST_LENGTH);
        SHA256_Final(out.data(), &std::get<SHA256_CTX>(state_->ctx));
    }
    return out;
}

} // namespace halyard::platform
