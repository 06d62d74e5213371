#include "crypto/random.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>

#include "base/os_error.h"
#include "base/sys.h"

namespace tovrel::crypto {

namespace {

base::Error failure(std::string_view step, int err) {
  return base::Error{base::with_cause(step, base::os_error_text(err))};
}

// Blocks until the kernel's pool is initialised, which is when /dev/random turns readable.
base::Status wait_for_pool() {
  const base::Fd fd = base::open_file("/dev/random", O_RDONLY);
  if (!fd.valid()) return failure("open /dev/random", errno);
  if (const int err = base::wait_until_ready(fd.get(), POLLIN))
    return failure("poll /dev/random", err);
  return base::ok_status();
}

}  // namespace

base::Status random_bytes_from_devices(void* out_bytes, std::size_t size) {
  auto* out = static_cast<unsigned char*>(out_bytes);
  if (auto waited = wait_for_pool(); !waited) return waited;
  const base::Fd fd = base::open_file("/dev/urandom", O_RDONLY);
  if (!fd.valid()) return failure("open /dev/urandom", errno);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = base::read_some(fd.get(), out + done, size - done);
    if (n <= 0) return failure("read /dev/urandom", n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  return base::ok_status();
}

base::Status random_bytes(void* out, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n =
        base::retry_on_eintr([&] { return ::getrandom(bytes + done, size - done, 0); });
    if (n < 0) {
      if (errno == ENOSYS) return random_bytes_from_devices(bytes + done, size - done);
      return failure("getrandom", errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return base::ok_status();
}

}  // namespace tovrel::crypto
