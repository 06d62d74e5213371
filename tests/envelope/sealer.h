#pragma once
// A sealer for tests: makes the envelopes that `envelope open` must accept, with OpenSSL
// called directly so that it shares no code with the opener.

#include <string>
#include <string_view>

namespace tovrel::test {

inline constexpr std::string_view kKind = "execution-secrets/v1";
inline constexpr std::string_view kPlainAadFields = R"({"kind":"execution-secrets/v1"})";

std::string b64url(std::string_view bytes);  // unpadded
std::string unhex(std::string_view hex);

// The X25519 public key of a 32-byte secret.
std::string x25519_public(std::string_view secret);

struct Sealed {
  std::string enc;         // base64url of the ephemeral public key
  std::string ciphertext;  // base64url of ciphertext and tag
};

// Seals `payload` to `box_public` with the ephemeral secret `ephemeral_secret`, under the
// associated data `aad` (the compact text of the aad_fields the document will carry).
Sealed seal(std::string_view box_public, std::string_view ephemeral_secret,
            std::string_view payload, std::string_view aad);

// Seals to whatever box key: `enc` is a small-order point, so the shared secret is zero.
Sealed seal_small_order(std::string_view small_order_point, std::string_view payload,
                        std::string_view aad);

// The document text: version 1, enc, ciphertext, and `aad_fields_json` as written.
std::string envelope_json(const Sealed& sealed, std::string_view aad_fields_json = kPlainAadFields);

// Decoded ciphertext bytes of `sealed`, changed by `edit`, encoded again.
std::string rewrap_ciphertext(const std::string& ciphertext_b64, void (*edit)(std::string& bytes));

}  // namespace tovrel::test
