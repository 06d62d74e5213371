#include "cas/store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/os_error.h"
#include "crypto/sha256.h"

namespace tovrel::cas {

namespace {

constexpr std::string_view kMkdirStep = "mkdir";
constexpr std::string_view kTmpfileStep = "tmpfile";
constexpr std::string_view kWriteStep = "write";
constexpr std::string_view kRenameStep = "rename";
constexpr std::string_view kShortWrite = "failed to write whole buffer";

base::Error step_error(std::string_view step, int err) {
  return base::Error{base::with_cause(step, base::os_error_text(err))};
}

void append_part(std::string& path, std::string_view part) {
  if (!path.empty() && path.back() != '/') path += '/';
  path += part;
}

// The path without its last name ("" for a bare name, "/" for a name under the root).
std::string_view parent_of(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view parent = path.substr(0, slash);
  while (parent.size() > 1 && parent.back() == '/') parent.remove_suffix(1);
  return parent.empty() ? path.substr(0, 1) : parent;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p: returns 0 or the errno of the failing level. The deepest level is tried first,
// so the common case (everything but the leaf exists) costs one call.
int create_directories(std::string_view dir) {
  if (dir.empty()) return 0;
  const std::string path(dir);
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  int err = errno;
  if (err != ENOENT) return is_directory(path) ? 0 : err;
  const std::string_view parent = parent_of(dir);
  if (parent == dir) return err;
  if (const int parent_err = create_directories(parent)) return parent_err;
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  err = errno;
  return is_directory(path) ? 0 : err;
}

int write_all(int fd, std::string_view bytes, std::string* short_write) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) {
      *short_write = std::string(kShortWrite);
      return -1;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

std::string sha256_hex(std::string_view bytes) { return crypto::sha256_hex(bytes); }

std::string object_path(std::string_view root, std::string_view dir, std::string_view digest,
                        std::string_view extension) {
  std::string path(root);
  path.reserve(root.size() + dir.size() + digest.size() + extension.size() + 8);
  append_part(path, dir);
  append_part(path, digest.substr(0, 2));
  append_part(path, digest.substr(2, 2));
  append_part(path, digest);
  path += extension;
  return path;
}

std::string temporary_path(std::string_view path, long pid) {
  const std::size_t name_start = path.rfind('/') + 1;  // npos + 1 == 0
  const std::string_view name = path.substr(name_start);
  const std::size_t dot = name.rfind('.');
  std::string out(path);
  // A name's extension follows its last dot, unless that dot is its first character.
  if (dot == std::string_view::npos || dot == 0) {
    out += '.';
  } else {
    out.resize(name_start + dot + 1);
  }
  out += "tmp.";
  out += std::to_string(pid);
  return out;
}

base::Status atomic_write(const std::string& path, std::string_view bytes) {
  if (const int err = create_directories(parent_of(path))) return step_error(kMkdirStep, err);

  const std::string tmp = temporary_path(path, static_cast<long>(::getpid()));
  int fd;
  do {
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return step_error(kTmpfileStep, errno);

  std::string short_write;
  if (const int err = write_all(fd, bytes, &short_write)) {
    ::unlink(tmp.c_str());
    ::close(fd);
    if (err < 0) return base::Error{base::with_cause(kWriteStep, short_write)};
    return step_error(kWriteStep, err);
  }
  ::close(fd);

  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return step_error(kRenameStep, err);
  }
  return base::ok_status();
}

}  // namespace tovrel::cas
