#include "crypto/random.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include "base/os_error.h"

namespace tovrel::crypto {

namespace {

base::Error failure(std::string_view step, int err) {
  return base::Error{base::with_cause(step, base::os_error_text(err))};
}

int open_retrying(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Blocks until the kernel's pool is initialised, which is when /dev/random turns readable.
base::Status wait_for_pool() {
  const int fd = open_retrying("/dev/random");
  if (fd < 0) return failure("open /dev/random", errno);
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, -1);
  } while (rc < 0 && errno == EINTR);
  const int err = errno;
  ::close(fd);
  if (rc < 0) return failure("poll /dev/random", err);
  return base::ok_status();
}

}  // namespace

base::Status random_bytes_from_devices(void* out_bytes, std::size_t size) {
  auto* out = static_cast<unsigned char*>(out_bytes);
  if (auto waited = wait_for_pool(); !waited) return waited;
  const int fd = open_retrying("/dev/urandom");
  if (fd < 0) return failure("open /dev/urandom", errno);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::close(fd);
      return failure("read /dev/urandom", err);
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return base::ok_status();
}

base::Status random_bytes(void* out, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::getrandom(bytes + done, size - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSYS) return random_bytes_from_devices(bytes + done, size - done);
      return failure("getrandom", errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return base::ok_status();
}

}  // namespace tovrel::crypto
