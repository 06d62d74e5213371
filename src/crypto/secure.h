#pragma once
// Secret material: SecretBytes, the one holder of every secret this program keeps in its own
// memory. It overwrites its memory with zeros (base::wipe, which the compiler may not elide)
// whenever it lets go of it: when it dies, is cleared or moved from, shrinks, or grows
// into a larger buffer, always over the whole capacity, since bytes past the size may still
// hold an earlier, longer content.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tovrel::crypto {

class SecretBytes {
 public:
  SecretBytes() = default;
  // `size` zero bytes.
  explicit SecretBytes(std::size_t size) : bytes_(size, '\0') {}
  // A copy of `bytes`; the caller's bytes are left as they are.
  explicit SecretBytes(std::string_view bytes) : bytes_(bytes) {}
  // Takes over `bytes` and its buffer without a copy; whatever the moved-from string still
  // holds in its own storage is wiped.
  explicit SecretBytes(std::string&& bytes);
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  SecretBytes(SecretBytes&& other) noexcept;
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  ~SecretBytes() { clear(); }

  // Wipes everything and empties the buffer.
  void clear() noexcept;
  void reserve(std::size_t n);
  void append(std::string_view bytes);
  // Grows with zero bytes, or shrinks wiping the bytes given up.
  void resize(std::size_t n);

  unsigned char* data() { return reinterpret_cast<unsigned char*>(bytes_.data()); }
  const unsigned char* data() const {
    return reinterpret_cast<const unsigned char*>(bytes_.data());
  }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::string_view view() const { return bytes_; }
  std::span<std::uint8_t> bytes() { return {data(), size()}; }
  std::span<const std::uint8_t> bytes() const { return {data(), size()}; }

 private:
  std::string bytes_;
};

}  // namespace tovrel::crypto
