#include "gate.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace tovrel::exec::testing {

Gate::Gate() : path_(dir_ / "gate") {
  if (mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
}

Gate::~Gate() {
  if (opened_) return;
  // Without blocking: this succeeds only when a reader is waiting in its open.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) close(fd);
}

void Gate::open() {
  int fd;
  do {
    fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw std::runtime_error("open gate");
  close(fd);
  opened_ = true;
}

}  // namespace tovrel::exec::testing
