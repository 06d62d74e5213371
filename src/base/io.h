#pragma once
// Whole reads of a descriptor or a file, holding the bytes once: a regular file is read into
// a buffer of exactly its size (plus one byte that sees the end), anything else (a pipe, a
// device) into a buffer that grows by doubling in place where the allocator can (no
// zero-filling, no second copy). Content that cannot be held fails with the text of ENOMEM.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"

namespace tovrel::base {

class InputBytes {
 public:
  // How much free space a read is given at least.
  static constexpr std::size_t kReadChunk = 64 * 1024;

  InputBytes() = default;
  // A buffer for bytes that may be secret (a key file): wiped whenever it lets go of memory,
  // when it dies, frees its storage or grows (by a copy, not realloc, which frees the old
  // block as it is).
  static InputBytes for_secret() {
    InputBytes out;
    out.secret_ = true;
    return out;
  }
  InputBytes(InputBytes&& other) noexcept
      : data_(std::move(other.data_)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        secret_(other.secret_) {}
  InputBytes& operator=(InputBytes&& other) noexcept {
    if (this != &other) {
      free_storage();
      data_ = std::move(other.data_);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
      secret_ = other.secret_;
    }
    return *this;
  }
  ~InputBytes() { free_storage(); }

  std::string_view view() const { return {data_.get(), size_}; }
  std::size_t size() const { return size_; }
  // Frees the bytes and their memory at once (wiped first for a secret), before the owner goes
  // away; empty afterwards.
  void free_storage() noexcept;

  // Free space of at least `want` bytes after the held ones, to be filled and then counted
  // with commit(). The first call makes room for exactly `want`; later ones double the
  // capacity (realloc moves a large block by remapping its pages, not by copying them).
  // Empty when the memory cannot be had: the held bytes stay as they are.
  std::span<char> room(std::size_t want = kReadChunk);
  void commit(std::size_t count) { size_ += count; }

 private:
  struct Free {
    void operator()(char* p) const;
  };
  std::unique_ptr<char, Free> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool secret_ = false;
};

// Reads `fd` to its end onto `into`: 0, or the errno of the failed read (ENOMEM when the bytes
// cannot be held); what came before a failure stays in `into`.
int read_to_end(int fd, InputBytes& into);

// All bytes of `fd` until end of file; the error is the OS error text.
Result<InputBytes> read_all(int fd);

// All bytes of the file at `path` (symbolic links followed); the error is the OS error text.
Result<InputBytes> read_file(const std::string& path);
// The same into a buffer made by InputBytes::for_secret().
Result<InputBytes> read_secret_file(const std::string& path);

// Either read, as UTF-8 text: invalid UTF-8 gives kInvalidUtf8Stream.
Result<InputBytes> as_text(Result<InputBytes> bytes);

}  // namespace tovrel::base
