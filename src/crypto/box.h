#pragma once
// The primitives behind sealed envelopes: X25519 key agreement (RFC 7748), HKDF-SHA256
// (RFC 5869) and ChaCha20-Poly1305 decryption (RFC 8439). Secrets come back in SecretBytes,
// which wipe themselves; OpenSSL's own copies are cleansed when its objects are freed.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "crypto/secure.h"
#include "crypto/x25519.h"

namespace tovrel::crypto {

inline constexpr std::size_t kChaChaKeySize = 32;
inline constexpr std::size_t kChaChaNonceSize = 12;
inline constexpr std::size_t kPoly1305TagSize = 16;

// X25519(secret, peer_public): the secret is clamped for use (the caller's bytes are left as
// they are) and the top bit of the peer's u-coordinate is ignored. A small-order peer key
// yields the all-zero shared secret, which is returned, not refused. Errors: "x25519: keys
// must be 32 bytes" when either input is not, or OpenSSL failing ("x25519: {step}: {reason}").
base::Result<SecretBytes> x25519(const SecretBytes& secret, std::string_view peer_public);

// True when `u` (32 bytes, little endian, top bit ignored, reduced modulo 2^255-19) is the
// u-coordinate of a point of order 1, 2, 4 or 8 on the curve or its twist: exactly the keys
// for which X25519 gives zeros whatever the secret.
bool is_small_order_x25519(std::string_view u);

// HKDF-SHA256 without salt (HMAC keyed with 32 zero bytes), expanded to `length` bytes
// (at most 255 * 32). The error is OpenSSL failing ("hkdf: {step}: {reason}").
base::Result<SecretBytes> hkdf_sha256(const SecretBytes& ikm, std::string_view info,
                                      std::size_t length);

// The plaintext of a sealed payload that opens, or nothing when it does not.
using Opened = std::optional<std::string>;

// ChaCha20-Poly1305 decryption of `sealed` (ciphertext followed by its 16-byte tag) with a
// 32-byte key and a 12-byte nonce: nothing when the tag does not match or `sealed` is shorter
// than the tag. The error is a key or nonce of another size, or OpenSSL failing to set up
// ("chacha20-poly1305: start: {reason}"). The cipher's key schedule is wiped on every path.
base::Result<Opened> chacha20poly1305_open(const SecretBytes& key, std::string_view nonce,
                                           std::string_view aad, std::string_view sealed);

// The same, decrypting where the bytes are, so that a large payload is not held twice: true when
// `sealed` opened, and it then holds the plaintext (the tag dropped); false when it did not: its
// bytes are then of no use, and zeros once decryption has begun (the tag is checked last, so
// they may have been decrypted). The errors are those above.
base::Result<bool> chacha20poly1305_open_in_place(const SecretBytes& key, std::string_view nonce,
                                                  std::string_view aad, std::string& sealed);

}  // namespace tovrel::crypto
