#pragma once
// The bytes a child writes and the bytes we read for it, held once: an anonymous mapping that
// grows by moving its pages (mremap), never by copying them, so a content of any size costs
// its own pages and nothing more, and growing never needs the old and the new block at once.

#include <cstddef>
#include <span>
#include <string_view>

namespace tovrel::exec {

class Bytes {
 public:
  // How much free space a read is given at least.
  static constexpr std::size_t kReadChunk = 64 * 1024;

  Bytes() = default;
  ~Bytes();
  Bytes(Bytes&& other) noexcept;
  Bytes& operator=(Bytes&& other) noexcept;
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;

  std::string_view view() const { return {data_, size_}; }
  std::size_t size() const { return size_; }

  // Free space of at least `want` bytes after the held ones, to be filled and then counted
  // with commit(); empty when the memory cannot be had (the held bytes stay as they are).
  std::span<char> room(std::size_t want = kReadChunk);
  void commit(std::size_t count) { size_ += count; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tovrel::exec
