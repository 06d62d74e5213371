#include "base/fd.h"

#include <errno.h>
#include <unistd.h>

namespace tovrel::base {

void Fd::reset(int fd) {
  if (fd_ >= 0) {
    // Callers read errno of the call that failed after the owner is gone.
    const int saved = errno;
    ::close(fd_);
    errno = saved;
  }
  fd_ = fd;
}

}  // namespace tovrel::base
