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
  // One spare byte beyond the hint lets a regular file end in one read plus the EOF read,
  // without a second buffer.
  std::string out(size_hint ? size_hint + 1 : 64 * 1024, '\0');
  std::size_t len = 0;
  for (;;) {
    if (len == out.size()) out.resize(out.size() * 2);
    const ssize_t n = ::read(fd, out.data() + len, out.size() - len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error{os_error_text(errno)};
    }
    if (n == 0) break;
    len += static_cast<std::size_t>(n);
  }
  out.resize(len);
  return out;
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
