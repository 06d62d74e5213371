#include "base/wipe.h"

#include <string.h>

namespace tovrel::base {

void wipe(void* data, std::size_t size) noexcept {
  if (size != 0) ::explicit_bzero(data, size);
}

void wipe(std::string& s) noexcept {
  wipe(s.data(), s.capacity());
  s.clear();
}

}  // namespace tovrel::base
