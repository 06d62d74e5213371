#include "crypto/x25519.h"

#include <openssl/evp.h>

#include "crypto/init.h"
#include "crypto/openssl_error.h"
#include "crypto/owners.h"

namespace tovrel::crypto {

base::Result<X25519PublicKey> x25519_public_key(
    std::span<const std::uint8_t, kX25519KeySize> secret) {
  ensure_openssl_initialised();
  Owned<EVP_PKEY> key(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, secret.data(), secret.size()));
  X25519PublicKey out{};
  std::size_t len = out.size();
  if (!key || EVP_PKEY_get_raw_public_key(key.get(), out.data(), &len) != 1 || len != out.size()) {
    return base::Error{openssl_error("X25519 public key")};
  }
  return out;
}

}  // namespace tovrel::crypto
