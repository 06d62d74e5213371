#include "base/io.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "base/os_error.h"
#include "base/sys.h"
#include "base/utf8.h"

namespace tovrel::base {

void InputBytes::Free::operator()(char* p) const { ::free(p); }

Result<InputBytes> read_all(int fd) {
  std::size_t capacity = 64 * 1024;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    capacity = static_cast<std::size_t>(st.st_size) + 1;
  }
  InputBytes in;
  in.data_.reset(static_cast<char*>(::malloc(capacity)));
  if (!in.data_) return Error{os_error_text(ENOMEM)};
  for (;;) {
    if (in.size_ == capacity) {
      // realloc moves large blocks by remapping pages, not by copying them.
      char* grown = capacity > SIZE_MAX / 2
                        ? nullptr
                        : static_cast<char*>(::realloc(in.data_.get(), capacity * 2));
      if (!grown) return Error{os_error_text(ENOMEM)};
      (void)in.data_.release();
      in.data_.reset(grown);
      capacity *= 2;
    }
    const ssize_t n = read_some(fd, in.data_.get() + in.size_, capacity - in.size_);
    if (n < 0) return Error{os_error_text(errno)};
    if (n == 0) return in;
    in.size_ += static_cast<std::size_t>(n);
  }
}

Result<InputBytes> read_file(const std::string& path) {
  const Fd fd = open_file(path, O_RDONLY);
  if (!fd.valid()) return Error{os_error_text(errno)};
  return read_all(fd.get());
}

Result<InputBytes> as_text(Result<InputBytes> bytes) {
  if (bytes.ok() && !is_valid_utf8(bytes->view())) return Error{std::string(kInvalidUtf8Stream)};
  return bytes;
}

}  // namespace tovrel::base
