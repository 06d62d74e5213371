#include "crypto/sha256.h"

#include <openssl/sha.h>

namespace tovrel::crypto {

Sha256Digest sha256(std::string_view bytes) {
  Sha256Digest out;
  // The one-shot SHA256() avoids the provider machinery that EVP fetching would start.
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
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
