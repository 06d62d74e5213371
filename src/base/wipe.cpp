#include "base/wipe.h"

#include <string.h>

#include <algorithm>

namespace tovrel::base {

void wipe(void* data, std::size_t size) noexcept {
  if (size != 0) ::explicit_bzero(data, size);
}

void wipe(std::string& s) noexcept {
  wipe(s.data(), s.capacity());
  s.clear();
}

void reserve_on_heap(std::string& s, std::size_t n) {
  static const std::size_t kInline = std::string().capacity();
  s.reserve(std::max(n, kInline + 1));
}

}  // namespace tovrel::base
