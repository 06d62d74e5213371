#include "crypto/sha256.h"

#include <new>

// The low-level SHA256_* calls are deprecated in OpenSSL 3 but are the only ones that hash
// without starting the provider machinery, which costs about a millisecond per process.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "base/hex.h"

namespace tovrel::crypto {

Sha256::Sha256() {
  static_assert(sizeof(SHA256_CTX) <= sizeof(state_) && alignof(SHA256_CTX) <= 8);
  SHA256_Init(new (state_) SHA256_CTX);
}

void Sha256::update(std::string_view bytes) {
  SHA256_Update(std::launder(reinterpret_cast<SHA256_CTX*>(state_)), bytes.data(), bytes.size());
}

Sha256Digest Sha256::finish() {
  Sha256Digest out;
  SHA256_Final(out.data(), std::launder(reinterpret_cast<SHA256_CTX*>(state_)));
  return out;
}

Sha256Digest sha256(std::string_view bytes) {
  Sha256 hash;
  hash.update(bytes);
  return hash.finish();
}

std::string sha256_hex(std::string_view bytes) { return digest_hex(sha256(bytes)); }

std::string digest_hex(const Sha256Digest& digest) {
  return base::hex_lower(
      std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

}  // namespace tovrel::crypto
