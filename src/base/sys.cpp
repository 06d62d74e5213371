#include "base/sys.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

#include "base/os_error.h"

namespace tovrel::base {

namespace {

bool would_block(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string_view parent_directory(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view parent = path.substr(0, slash);
  while (parent.size() > 1 && parent.back() == '/') parent.remove_suffix(1);
  return parent.empty() ? path.substr(0, 1) : parent;
}

Fd open_file(const std::string& path, int flags, mode_t mode) {
  return Fd(retry_on_eintr([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); }));
}

int wait_until_ready(int fd, short events) {
  pollfd p{fd, events, 0};
  return retry_on_eintr([&] { return ::poll(&p, 1, -1); }) < 0 ? errno : 0;
}

namespace {

// Repeats `call` (a read, a write or a sendfile on `fd`) until it succeeds or fails for good:
// EINTR is retried, and EAGAIN of a descriptor the caller made non-blocking is waited out
// until `fd` is ready for `events`. The count, or -1 with errno.
template <class Call>
ssize_t when_ready(int fd, short events, Call call) {
  for (;;) {
    const ssize_t n = call();
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (!would_block(errno)) return -1;
    if (const int err = wait_until_ready(fd, events)) {
      errno = err;
      return -1;
    }
  }
}

}  // namespace

ssize_t read_some(int fd, void* buffer, std::size_t size) {
  return when_ready(fd, POLLIN, [&] { return ::read(fd, buffer, size); });
}

ssize_t read_now(int fd, void* buffer, std::size_t size) {
  return retry_on_eintr([&] { return ::read(fd, buffer, size); });
}

ssize_t write_now(int fd, const void* data, std::size_t size) {
  return retry_on_eintr([&] { return ::write(fd, data, size); });
}

void read_held(int fd, const std::function<std::span<char>(std::size_t want)>& room,
               const std::function<void(std::size_t count)>& commit) {
  int held = 0;
  if (::ioctl(fd, FIONREAD, &held) != 0) return;
  while (held > 0) {
    const std::span<char> space = room(static_cast<std::size_t>(held));
    if (space.empty()) return;
    const ssize_t n =
        read_now(fd, space.data(), std::min(space.size(), static_cast<std::size_t>(held)));
    if (n <= 0) return;
    held -= static_cast<int>(n);
    commit(static_cast<std::size_t>(n));
  }
}

ssize_t read_up_to(int fd, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = read_some(fd, buffer + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

ssize_t write_some(int fd, const void* data, std::size_t size) {
  return when_ready(fd, POLLOUT, [&] { return ::write(fd, data, size); });
}

ssize_t send_some(int out_fd, int in_fd, std::size_t size) {
  return when_ready(out_fd, POLLOUT, [&] { return ::sendfile(out_fd, in_fd, nullptr, size); });
}

int write_all_with(const WriteFn& write, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return kNoProgress;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int write_all(int fd, std::string_view bytes) {
  return write_all_with([fd](const char* d, std::size_t n) { return write_some(fd, d, n); }, bytes);
}

std::string write_failure_text(int result) {
  return result == kNoProgress ? std::string(kWroteNothing) : os_error_text(result);
}

int make_directories(std::string_view dir) {
  if (dir.empty()) return 0;
  const std::string path(dir);
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  int err = errno;
  if (err != ENOENT) return is_directory(path) ? 0 : err;
  const std::string_view parent = parent_directory(dir);
  if (parent.empty() || parent == dir) return err;
  if (const int parent_err = make_directories(parent)) return parent_err;
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  err = errno;
  return is_directory(path) ? 0 : err;
}

int sleep_fully(timespec duration) {
  timespec remaining;
  while (::nanosleep(&duration, &remaining) != 0) {
    if (errno != EINTR) return errno;
    duration = remaining;
  }
  return 0;
}

int set_nonblocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return errno;
  return 0;
}

Fd pidfd_open(pid_t pid) { return Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))); }

int pidfd_send_signal(int pidfd, int sig) {
  return static_cast<int>(
      retry_on_eintr([&] { return ::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0); }));
}

}  // namespace tovrel::base
