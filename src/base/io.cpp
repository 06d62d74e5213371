#include "base/io.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>

#include "base/os_error.h"
#include "base/sys.h"
#include "base/utf8.h"
#include "base/wipe.h"

namespace tovrel::base {

void InputBytes::Free::operator()(char* p) const { ::free(p); }

void InputBytes::free_storage() noexcept {
  if (secret_ && data_) wipe(data_.get(), capacity_);
  data_.reset();
  size_ = 0;
  capacity_ = 0;
}

std::span<char> InputBytes::room(std::size_t want) {
  if (capacity_ - size_ >= want) return {data_.get() + size_, capacity_ - size_};
  std::size_t capacity = capacity_ ? capacity_ : want;
  while (capacity - size_ < want) {
    if (capacity > SIZE_MAX / 2) return {};
    capacity *= 2;
  }
  if (secret_) {
    char* grown = static_cast<char*>(::malloc(capacity));
    if (!grown) return {};
    if (size_ != 0) std::memcpy(grown, data_.get(), size_);
    const std::size_t size = size_;
    free_storage();
    data_.reset(grown);
    size_ = size;
  } else {
    char* grown = static_cast<char*>(::realloc(data_.get(), capacity));
    if (!grown) return {};
    (void)data_.release();
    data_.reset(grown);
  }
  capacity_ = capacity;
  return {data_.get() + size_, capacity_ - size_};
}

int read_to_end(int fd, InputBytes& into) {
  // A regular file is read into room for exactly its size, plus one byte that sees the end.
  std::size_t want = InputBytes::kReadChunk;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    want = static_cast<std::size_t>(st.st_size) + 1;
  }
  for (;;) {
    const std::span<char> room = into.room(want);
    if (room.empty()) return ENOMEM;
    const ssize_t n = read_some(fd, room.data(), room.size());
    if (n < 0) return errno;
    if (n == 0) return 0;
    into.commit(static_cast<std::size_t>(n));
    want = 1;  // the capacity grows only once it is full
  }
}

namespace {

Result<InputBytes> read_all_into(int fd, InputBytes in) {
  if (const int err = read_to_end(fd, in)) return Error{os_error_text(err)};
  return in;
}

Result<InputBytes> read_file_into(const std::string& path, InputBytes in) {
  const Fd fd = open_file(path, O_RDONLY);
  if (!fd.valid()) return Error{os_error_text(errno)};
  return read_all_into(fd.get(), std::move(in));
}

}  // namespace

Result<InputBytes> read_all(int fd) { return read_all_into(fd, InputBytes()); }

Result<InputBytes> read_file(const std::string& path) { return read_file_into(path, InputBytes()); }

Result<InputBytes> read_secret_file(const std::string& path) {
  return read_file_into(path, InputBytes::for_secret());
}

Result<InputBytes> as_text(Result<InputBytes> bytes) {
  if (bytes.ok() && !is_valid_utf8(bytes->view())) return Error{std::string(kInvalidUtf8Stream)};
  return bytes;
}

}  // namespace tovrel::base
