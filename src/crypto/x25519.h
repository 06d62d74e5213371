#pragma once
// X25519 (RFC 7748) public-key derivation over OpenSSL libcrypto.

#include <array>
#include <cstdint>
#include <span>

#include "base/result.h"

namespace tovrel::crypto {

inline constexpr std::size_t kX25519KeySize = 32;
using X25519PublicKey = std::array<std::uint8_t, kX25519KeySize>;

// X25519(secret, 9): the u-coordinate as 32 little-endian bytes. The clamping is applied to a
// copy of the secret inside OpenSSL, which wipes it; `secret` itself is left as it is.
base::Result<X25519PublicKey> x25519_public_key(
    std::span<const std::uint8_t, kX25519KeySize> secret);

}  // namespace tovrel::crypto
