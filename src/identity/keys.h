#pragma once
// The Ed25519 key documents: the 83-byte PKCS#8 version 2 private key and the 44-byte
// SubjectPublicKeyInfo as `keypair generate` writes them, and the readers of `sign` and
// `verify`, which accept those and some other well-formed forms.

#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "crypto/ed25519.h"
#include "crypto/secure.h"

namespace tovrel::identity {

inline constexpr std::string_view kPrivateKeyLabel = "PRIVATE KEY";
inline constexpr std::string_view kPublicKeyLabel = "PUBLIC KEY";
inline constexpr std::size_t kPrivateKeyDerSize = 83;
inline constexpr std::size_t kPublicKeyDerSize = 44;

// The private key DER document, which holds the seed.
crypto::SecretBytes private_key_der(std::span<const std::uint8_t, crypto::kEd25519SeedSize> seed,
                                    const crypto::Ed25519PublicKey& public_key);
std::string public_key_der(const crypto::Ed25519PublicKey& public_key);

// Reads the PEM text of a private key file into a signing key. The decoded DER is wiped
// before this returns, on every path. The error fills "parse private key: {}".
base::Result<crypto::Ed25519SigningKey> read_private_key(std::string_view pem_text);

// Reads the PEM text of a public key file: the 32 key bytes as they stand, which decode as a
// curve point (leniently). The error fills "parse public key: {}".
base::Result<crypto::Ed25519PublicKey> read_public_key(std::string_view pem_text);

}  // namespace tovrel::identity
