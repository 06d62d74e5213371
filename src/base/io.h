#pragma once
// Whole reads of a descriptor or a file, holding the bytes once: a regular file is read into
// a buffer of exactly its size (plus one byte that sees the end), anything else (a pipe, a
// device) into a buffer that grows by doubling in place where the allocator can (no
// zero-filling, no second copy). Content that cannot be held fails with the text of ENOMEM.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tovrel::base {

class InputBytes {
 public:
  InputBytes() = default;
  std::string_view view() const { return {data_.get(), size_}; }
  std::size_t size() const { return size_; }
  // Gives the memory back before the owner goes away.
  void release() {
    data_.reset();
    size_ = 0;
  }

 private:
  friend Result<InputBytes> read_all(int fd);
  struct Free {
    void operator()(char* p) const;
  };
  std::unique_ptr<char, Free> data_;
  std::size_t size_ = 0;
};

// All bytes of `fd` until end of file; the error is the OS error text.
Result<InputBytes> read_all(int fd);

// All bytes of the file at `path` (symbolic links followed); the error is the OS error text.
Result<InputBytes> read_file(const std::string& path);

// Either read, as UTF-8 text: invalid UTF-8 gives kInvalidUtf8Stream.
Result<InputBytes> as_text(Result<InputBytes> bytes);

}  // namespace tovrel::base
