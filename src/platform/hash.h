// Message digests from the platform's cryptography (OpenSSL's libcrypto on POSIX, CNG on Windows).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace halyard::platform {

enum class DigestAlgorithm { Sha1, Sha256 };

class Digest {
public:
    explicit Digest(DigestAlgorithm alg);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void update(std::span<const std::uint8_t> data);
    void update(const void* data, std::size_t size);
    std::vector<std::uint8_t> finish();
    DigestAlgorithm algorithm() const { return alg_; }

private:
    DigestAlgorithm alg_;
    struct State;
    std::unique_ptr<State> state_;
};

std::vector<std::uint8_t> DigestOf(DigestAlgorithm alg, std::span<const std::uint8_t> data);

} // namespace halyard::platform
