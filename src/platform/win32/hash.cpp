#include "platform/hash.h"

#include "base/errors.h"

// bcrypt.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

// SHA-1 and SHA-256 from CNG (BCrypt).
namespace halyard::platform {

namespace {

bool Ok(NTSTATUS status) {
    return status >= 0;
}

std::size_t DigestSize(DigestAlgorithm alg) {
    return alg == DigestAlgorithm::Sha1 ? 20 : 32;
}

} // namespace

struct Digest::State {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash != nullptr) {
            ::BCryptDestroyHash(hash);
        }
        if (alg != nullptr) {
            ::BCryptCloseAlgorithmProvider(alg, 0);
        }
    }
};

Digest::Digest(DigestAlgorithm alg) : alg_(alg), state_(std::make_unique<State>()) {
    const wchar_t* id =
        alg == DigestAlgorithm::Sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM;
    if (!Ok(::BCryptOpenAlgorithmProvider(&state_->alg, id, nullptr, 0)) ||
        !Ok(::BCryptCreateHash(state_->alg, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
        throw EOSError("digest initialisation failed");
    }
}

Digest::~Digest() = default;

void Digest::update(const void* data, std::size_t size) {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!Ok(::BCryptHashData(state_->hash, p, chunk, 0))) {
            throw EOSError("digest update failed");
        }
        p += chunk;
        size -= chunk;
    }
}

std::vector<std::uint8_t> Digest::finish() {
    std::vector<std::uint8_t> out(DigestSize(alg_));
    if (!Ok(::BCryptFinishHash(state_->hash, out.data(), static_cast<ULONG>(out.size()), 0))) {
        throw EOSError("digest finish failed");
    }
    return out;
}

} // namespace halyard::platform
