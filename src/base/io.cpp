#include "base/io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/os_error.h"
#include "base/utf8.h"

namespace tovrel::base {

namespace {

Result<std::string> read_all(int fd, std::size_t size_hint) {
  std::string out;
  // One spare byte beyond the hint lets a regular file end in a single read plus the EOF read.
  std::size_t chunk = size_hint ? size_hint + 1 : 64 * 1024;
  for (;;) {
    const std::size_t old = out.size();
    if (out.capacity() - old < chunk) out.reserve(old + chunk);
    out.resize(out.capacity());
    const ssize_t n = ::read(fd, out.data() + old, out.size() - old);
    if (n < 0) {
      const int err = errno;
      out.resize(old);
      if (err == EINTR) continue;
      return Error{os_error_text(err)};
    }
    out.resize(old + static_cast<std::size_t>(n));
    if (n == 0) return out;
    if (out.size() == out.capacity()) chunk = out.size();  // grow geometrically
  }
}

Result<std::string> as_text(Result<std::string> bytes) {
  if (bytes.ok() && !is_valid_utf8(*bytes)) return Error{std::string(kInvalidUtf8Stream)};
  return bytes;
}

}  // namespace

Result<std::string> read_stdin_bytes() {
  struct stat st;
  std::size_t hint = 0;
  if (::fstat(0, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    hint = static_cast<std::size_t>(st.st_size);
  }
  return read_all(0, hint);
}

Result<std::string> read_stdin_text() { return as_text(read_stdin_bytes()); }

Result<std::string> read_file_bytes(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Error{os_error_text(errno)};
  struct stat st;
  std::size_t hint = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    hint = static_cast<std::size_t>(st.st_size);
  }
  auto out = read_all(fd, hint);
  ::close(fd);
  return out;
}

Result<std::string> read_file_text(const std::string& path) { return as_text(read_file_bytes(path)); }

}  // namespace tovrel::base
