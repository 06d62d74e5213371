#pragma once
// Wiping of secret material, and a byte buffer that wipes itself (spare capacity included)
// when it dies or is cleared.

#include <cstddef>
#include <string>
#include <string_view>

namespace tovrel::crypto {

// Overwrites `size` bytes at `data` with zeros in a way the compiler may not elide.
void wipe(void* data, std::size_t size);
// Wipes the whole capacity of `s`, then clears it.
void wipe_string(std::string& s);

class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::size_t size) : bytes_(size, '\0') {}
  explicit SecretBytes(std::string_view bytes) : bytes_(bytes) {}
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.clear(); }
  SecretBytes& operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
      clear();
      bytes_ = std::move(other.bytes_);
      other.clear();
    }
    return *this;
  }
  ~SecretBytes() { clear(); }

  void clear() { wipe_string(bytes_); }
  // Grows without leaving a copy of the old contents behind.
  void reserve(std::size_t n);
  void append(std::string_view bytes);
  void resize(std::size_t n);

  unsigned char* data() { return reinterpret_cast<unsigned char*>(bytes_.data()); }
  const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(bytes_.data()); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::string_view view() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace tovrel::crypto
