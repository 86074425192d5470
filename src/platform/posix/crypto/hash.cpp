#include "platform/hash.h"

#include "base/errors.h"
#include "crypto/ossl_ptr.h"

#include <openssl/evp.h>

namespace halyard::platform {

struct Digest::State {
    EvpMdCtxPtr ctx;
};

Digest::Digest(DigestAlgorithm alg) : alg_(alg), state_(std::make_unique<State>()) {
    state_->ctx.reset(EVP_MD_CTX_new());
    const EVP_MD* md = alg == DigestAlgorithm::Sha1 ? EVP_sha1() : EVP_sha256();
    if (!state_->ctx || EVP_DigestInit_ex(state_->ctx.get(), md, nullptr) != 1) {
        throw EOSError("digest initialisation failed");
    }
}

Digest::~Digest() = default;

void Digest::update(const void* data, std::size_t size) {
    if (size > 0) {
        EVP_DigestUpdate(state_->ctx.get(), data, size);
    }
}

std::vector<std::uint8_t> Digest::finish() {
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EVP_DigestFinal_ex(state_->ctx.get(), out.data(), &len);
    out.resize(len);
    return out;
}

} // namespace halyard::platform
