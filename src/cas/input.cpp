#include "cas/input.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/os_error.h"

namespace tovrel::cas {

void InputBytes::Free::operator()(char* p) const { ::free(p); }

base::Result<InputBytes> read_all_input(int fd) {
  std::size_t capacity = 64 * 1024;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    capacity = static_cast<std::size_t>(st.st_size) + 1;
  }
  InputBytes in;
  in.data_.reset(static_cast<char*>(::malloc(capacity)));
  if (!in.data_) return base::Error{base::os_error_text(ENOMEM)};
  for (;;) {
    if (in.size_ == capacity) {
      // realloc moves large blocks by remapping pages, not by copying them.
      char* grown = static_cast<char*>(::realloc(in.data_.get(), capacity * 2));
      if (!grown) return base::Error{base::os_error_text(ENOMEM)};
      (void)in.data_.release();
      in.data_.reset(grown);
      capacity *= 2;
    }
    const ssize_t n = ::read(fd, in.data_.get() + in.size_, capacity - in.size_);
    if (n < 0) {
      if (errno == EINTR) continue;
      return base::Error{base::os_error_text(errno)};
    }
    if (n == 0) return in;
    in.size_ += static_cast<std::size_t>(n);
  }
}

base::Result<InputBytes> read_file_input(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return base::Error{base::os_error_text(errno)};
  auto bytes = read_all_input(fd);
  ::close(fd);
  return bytes;
}

}  // namespace tovrel::cas
