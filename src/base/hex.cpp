#include "base/hex.h"

namespace tovrel::base {

std::string hex_lower(std::string_view bytes) {
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    out[2 * i] = hex_digit(c >> 4);
    out[2 * i + 1] = hex_digit(c);
  }
  return out;
}

}  // namespace tovrel::base
