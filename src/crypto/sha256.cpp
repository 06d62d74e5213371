#include "crypto/sha256.h"

// The low-level SHA256_* calls are deprecated in OpenSSL 3 but are the only ones that hash
// without starting the provider machinery, which costs about a millisecond per process.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace tovrel::crypto {

Sha256Digest sha256(std::string_view bytes) {
  Sha256Digest out;
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  SHA256_Update(&ctx, bytes.data(), bytes.size());
  SHA256_Final(out.data(), &ctx);
  return out;
}

std::string hex_lower(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.resize(bytes.size() * 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    out[2 * i] = kHex[c >> 4];
    out[2 * i + 1] = kHex[c & 0xF];
  }
  return out;
}

std::string sha256_hex(std::string_view bytes) {
  const Sha256Digest d = sha256(bytes);
  return hex_lower(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

}  // namespace tovrel::crypto
