#include "base/directory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "base/sys.h"

namespace tovrel::base {

Fd open_directory(const std::string& path) {
  const char* name = path.empty() ? "." : path.c_str();
  Fd fd(retry_on_eintr([&] { return ::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!fd.valid() && errno == EACCES) {
    fd.reset(retry_on_eintr([&] { return ::open(name, O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  }
  return fd;
}

int change_mode(int fd, mode_t mode) {
  if (::fchmod(fd, mode) == 0) return 0;
  if (errno != EBADF) return errno;
  // A bare reference takes no fchmod; its /proc entry resolves to the directory itself, not
  // to whatever its path names now.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::chmod(self.c_str(), mode) == 0 ? 0 : errno;
}

Fd open_at(int dir, const std::string& name, int flags, mode_t mode) {
  return Fd(retry_on_eintr([&] { return ::openat(dir, name.c_str(), flags | O_CLOEXEC, mode); }));
}

}  // namespace tovrel::base
