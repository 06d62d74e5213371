#pragma once
// SHA-256 over OpenSSL (which uses the CPU's SHA extensions), and the hex digest form.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovrel::crypto {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::string_view bytes);

// The same digest over bytes that arrive in pieces.
class Sha256 {
 public:
  Sha256();
  void update(std::string_view bytes);
  // The digest of everything given; the hash is spent afterwards.
  Sha256Digest finish();

 private:
  // Room for OpenSSL's SHA256_CTX, which this header does not include.
  alignas(8) unsigned char state_[112];
};

// 64 lowercase hexadecimal characters.
std::string sha256_hex(std::string_view bytes);
// The same form of a digest already computed.
std::string digest_hex(const Sha256Digest& digest);

}  // namespace tovrel::crypto
