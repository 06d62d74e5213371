#pragma once
// Ed25519 (RFC 8032, pure, SHA-512) over OpenSSL libcrypto: public key from a seed, signing,
// verification, and the lenient point decoding that public keys are held to.
//
// Verification is OpenSSL's: cofactorless ([S]B - [k]A encoded and compared with R byte for
// byte), S must be below the group order L, the key is decoded leniently (y taken modulo p,
// x = 0 with the sign bit accepted) and no point is refused for its order.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/result.h"
#include "crypto/owners.h"

namespace tovrel::crypto {

inline constexpr std::size_t kEd25519SeedSize = 32;
inline constexpr std::size_t kEd25519PublicKeySize = 32;
inline constexpr std::size_t kEd25519SignatureSize = 64;

using Ed25519PublicKey = std::array<std::uint8_t, kEd25519PublicKeySize>;
using Ed25519Signature = std::array<std::uint8_t, kEd25519SignatureSize>;

// A signing key made from a 32-byte seed. OpenSSL holds its copy of the seed and wipes it, and
// the expanded key (clamped scalar and nonce prefix) it forms for each derivation and signature,
// when done. The caller keeps and wipes its own copy of the seed.
class Ed25519SigningKey {
 public:
  // Derives the public key (RFC 8032 section 5.1.5). Fails only when OpenSSL does.
  static base::Result<Ed25519SigningKey> from_seed(
      std::span<const std::uint8_t, kEd25519SeedSize> seed);

  const Ed25519PublicKey& public_key() const { return public_key_; }
  // Signs `message` (RFC 8032 section 5.1.6): deterministic, 64 bytes R || S.
  base::Result<Ed25519Signature> sign(std::string_view message) const;

 private:
  Owned<EVP_PKEY> key_;
  Ed25519PublicKey public_key_{};
};

// True when `signature` is valid for `message` under the key bytes `public_key` as they stand
// (the stored bytes, not a re-encoding, enter the challenge hash). Key bytes that do not decode
// give false. The error is OpenSSL failing to set up, never an invalid signature.
base::Result<bool> ed25519_verify(std::span<const std::uint8_t, kEd25519PublicKeySize> public_key,
                                  std::span<const std::uint8_t, kEd25519SignatureSize> signature,
                                  std::string_view message);

// The lenient decoding of a public key: y is the low 255 bits reduced modulo p = 2^255 - 19,
// an x of 0 with the sign bit set is taken as x = 0, and only a y for which
// (y^2 - 1) / (d y^2 + 1) has no square root modulo p fails. Points of small order decode.
bool ed25519_point_decodes(std::span<const std::uint8_t, kEd25519PublicKeySize> encoded);

}  // namespace tovrel::crypto
