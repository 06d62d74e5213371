#pragma once
// SHA-256 over OpenSSL (which uses the CPU's SHA extensions), and the hex digest form.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovrel::crypto {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::string_view bytes);

// 64 lowercase hexadecimal characters.
std::string sha256_hex(std::string_view bytes);

// Lowercase hex of arbitrary bytes.
std::string hex_lower(std::string_view bytes);

}  // namespace tovrel::crypto
