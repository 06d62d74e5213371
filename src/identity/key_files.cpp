#include "identity/key_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/os_error.h"
#include "crypto/sha256.h"
#include "identity/messages.h"

namespace tovrel::identity {

namespace {

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The parent of `path` ignoring trailing '/', or "" when it has none.
std::string parent_of(const std::string& path) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "";
  const std::size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return "";
  const std::size_t parent_end = path.find_last_not_of('/', slash);
  return parent_end == std::string::npos ? "/" : path.substr(0, parent_end + 1);
}

// Like `mkdir -p`: the first error that leaves no directory at `path` is returned.
int make_directories(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  int err = errno;
  if (err == ENOENT) {
    const std::string parent = parent_of(path);
    if (!parent.empty() && parent != path) {
      if (const int perr = make_directories(parent)) return perr;
      if (::mkdir(path.c_str(), 0777) == 0) return 0;
      err = errno;
    }
  }
  return is_directory(path) ? 0 : err;
}

}  // namespace

std::string key_path(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

base::Status make_key_directory(const std::string& dir) {
  if (dir.empty()) return base::ok_status();
  if (const int err = make_directories(dir)) {
    return base::Error{base::with_cause(text::kMkdir, base::os_error_text(err))};
  }
  return base::ok_status();
}

base::Status write_key_file(const std::string& path, std::string_view content, std::uint32_t mode) {
  const auto step = [&path](std::string_view what) { return std::string(what) + " " + path; };
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return base::Error{base::with_cause(step(text::kCreate), base::os_error_text(errno))};
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string cause = n < 0 ? base::os_error_text(errno) : std::string(text::kWriteZero);
      ::close(fd);
      return base::Error{base::with_cause(step(text::kWrite), cause)};
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return base::ok_status();
}

std::string key_fingerprint(std::string_view bytes) { return crypto::sha256_hex(bytes).substr(0, 16); }

}  // namespace tovrel::identity
