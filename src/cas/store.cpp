#include "cas/store.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "base/os_error.h"
#include "base/sys.h"
#include "crypto/sha256.h"

namespace tovrel::cas {

namespace {

constexpr std::string_view kMkdirStep = "mkdir";
constexpr std::string_view kTmpfileStep = "tmpfile";
constexpr std::string_view kWriteStep = "write";
constexpr std::string_view kRenameStep = "rename";

base::Error step_error(std::string_view step, int err) {
  return base::Error{base::with_cause(step, base::os_error_text(err))};
}

void append_part(std::string& path, std::string_view part) {
  if (!path.empty() && path.back() != '/') path += '/';
  path += part;
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
  if (const int err = base::make_directories(base::parent_directory(path))) {
    return step_error(kMkdirStep, err);
  }

  const std::string tmp = temporary_path(path, static_cast<long>(::getpid()));
  base::Fd fd = base::open_file(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (!fd.valid()) return step_error(kTmpfileStep, errno);

  if (const int err = base::write_all(fd.get(), bytes)) {
    ::unlink(tmp.c_str());
    return base::Error{base::with_cause(kWriteStep, base::write_failure_text(err))};
  }
  fd.reset();

  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return step_error(kRenameStep, err);
  }
  return base::ok_status();
}

}  // namespace tovrel::cas
