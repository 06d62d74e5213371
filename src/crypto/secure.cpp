#include "crypto/secure.h"

#include <algorithm>
#include <utility>

#include "base/wipe.h"

namespace tovrel::crypto {

using base::wipe;

SecretBytes::SecretBytes(std::string&& bytes) : bytes_(std::move(bytes)) {
  // A short string is moved by copying its characters out of its own storage.
  wipe(bytes);
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {
  other.clear();
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    clear();
    bytes_ = std::move(other.bytes_);
    other.clear();
  }
  return *this;
}

void SecretBytes::clear() noexcept { wipe(bytes_); }

void SecretBytes::reserve(std::size_t n) {
  if (n <= bytes_.capacity()) return;
  std::string bigger;
  bigger.reserve(n);
  bigger.assign(bytes_);
  wipe(bytes_);
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
