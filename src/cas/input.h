#pragma once
// Whole reads of standard input and of stored items, holding the bytes once: a regular file is read
// into a buffer of exactly its size (plus one byte that sees the end), a pipe into a buffer
// that grows by doubling in place where the allocator can (no zero-filling, no second copy).

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tovrel::cas {

class InputBytes {
 public:
  InputBytes() = default;
  std::string_view view() const { return {data_.get(), size_}; }
  // Gives the memory back before the owner goes away.
  void release() {
    data_.reset();
    size_ = 0;
  }

 private:
  friend base::Result<InputBytes> read_all_input(int fd);
  friend base::Result<InputBytes> read_file_input(const std::string& path);
  struct Free {
    void operator()(char* p) const;
  };
  std::unique_ptr<char, Free> data_;
  std::size_t size_ = 0;
};

// All bytes of `fd` until end of file; the error is the OS error text.
base::Result<InputBytes> read_all_input(int fd);

// All bytes of the file at `path` (symbolic links followed); the error is the OS error text.
base::Result<InputBytes> read_file_input(const std::string& path);

}  // namespace tovrel::cas
