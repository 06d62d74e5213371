#include "crypto/secure.h"

#include <openssl/crypto.h>

namespace tovrel::crypto {

void wipe(void* data, std::size_t size) {
  if (size) OPENSSL_cleanse(data, size);
}

void wipe_string(std::string& s) {
  // Whole capacity: bytes past size() may still hold an earlier, longer content.
  wipe(s.data(), s.capacity());
  s.clear();
}

void SecretBytes::reserve(std::size_t n) {
  if (n <= bytes_.capacity()) return;
  std::string bigger;
  bigger.reserve(n);
  bigger.assign(bytes_);
  wipe_string(bytes_);
  bytes_ = std::move(bigger);
}

void SecretBytes::append(std::string_view bytes) {
  if (bytes_.size() + bytes.size() > bytes_.capacity()) {
    reserve(std::max(bytes_.size() + bytes.size(), 2 * bytes_.capacity()));
  }
  bytes_.append(bytes);
}

void SecretBytes::resize(std::size_t n) {
  reserve(n);
  if (n < bytes_.size()) wipe(bytes_.data() + n, bytes_.size() - n);
  bytes_.resize(n, '\0');
}

}  // namespace tovrel::crypto
