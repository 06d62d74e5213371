#pragma once
// Builders of key documents for the identity tests: DER values by hand, and PEM around them.

#include <string>
#include <string_view>

#include "data/ed25519_vectors.h"
#include "data/hex.h"
#include "identity/pem.h"

namespace tovrel::identity::testing {

using test::unhex;

// A DER value: identifier, minimal definite length, content.
inline std::string tlv(unsigned char tag, std::string_view content) {
  std::string out(1, static_cast<char>(tag));
  const std::size_t n = content.size();
  if (n < 0x80) {
    out += static_cast<char>(n);
  } else if (n < 0x100) {
    out += '\x81';
    out += static_cast<char>(n);
  } else {
    out += '\x82';
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(n & 0xFF);
  }
  out += content;
  return out;
}

inline const std::string kSeed1 = unhex(test::vectors::kRfc8032Test1.seed);
inline const std::string kPublic1 = unhex(test::vectors::kRfc8032Test1.public_key);
inline const std::string kSeed2 = unhex(test::vectors::kRfc8032Test2.seed);
inline const std::string kPublic2 = unhex(test::vectors::kRfc8032Test2.public_key);

inline const std::string kEd25519Algorithm = unhex("300506032b6570");
inline std::string version(int v) { return tlv(0x02, std::string(1, static_cast<char>(v))); }
inline std::string private_key_field(std::string_view seed) { return tlv(0x04, tlv(0x04, seed)); }
inline std::string public_key_field(std::string_view key) {
  return tlv(0x81, std::string(1, '\0') + std::string(key));
}

// The 83-byte version 2 form as `keypair generate` writes it.
inline std::string pkcs8_v2(std::string_view seed, std::string_view pub) {
  return tlv(0x30,
             version(1) + kEd25519Algorithm + private_key_field(seed) + public_key_field(pub));
}
// The 48-byte version 1 form that other tools write.
inline std::string pkcs8_v1(std::string_view seed) {
  return tlv(0x30, version(0) + kEd25519Algorithm + private_key_field(seed));
}
inline std::string spki(std::string_view key) {
  return tlv(0x30, kEd25519Algorithm + tlv(0x03, std::string(1, '\0') + std::string(key)));
}

inline std::string pem(std::string_view label, std::string_view der) {
  return std::string(pem_encode(label, der).view());
}
inline std::string private_pem(std::string_view der) { return pem("PRIVATE KEY", der); }
inline std::string public_pem(std::string_view der) { return pem("PUBLIC KEY", der); }

}  // namespace tovrel::identity::testing
