#pragma once
// Hex text to bytes, for test vectors.

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tovrel::test {

inline std::string unhex(std::string_view hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("bad hex");
  };
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1]));
  }
  return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> unhex_array(std::string_view hex) {
  const std::string bytes = unhex(hex);
  if (bytes.size() != N) throw std::invalid_argument("bad hex length");
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<std::uint8_t>(bytes[i]);
  return out;
}

}  // namespace tovrel::test
