#include "base/running_child.h"

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "base/sys.h"

namespace tovrel::base {

namespace {

// The pid in the high half, the pidfd plus one in the low half; 0 when no child runs. One
// word, so that a reader on another thread never sees the pid of one record with the pidfd
// of another.
std::atomic<std::uint64_t> g_running{0};

}  // namespace

void set_running_child(pid_t pid, int pidfd) noexcept {
  const std::uint64_t word = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(pid)) << 32) |
                             static_cast<std::uint32_t>(pidfd + 1);
  g_running.store(word, std::memory_order_release);
}

void clear_running_child() noexcept { g_running.store(0, std::memory_order_release); }

void end_running_child() noexcept {
  const std::uint64_t word = g_running.exchange(0, std::memory_order_acq_rel);
  if (word == 0) return;
  const auto pid = static_cast<pid_t>(word >> 32);
  const int pidfd = static_cast<int>(word & 0xFFFFFFFFu) - 1;
  // The pidfd cannot reach another process should the child have been reaped meanwhile (by
  // the thread that waits for it); the pid serves where there is none or it is refused.
  if (pidfd < 0 || (pidfd_send_signal(pidfd, SIGKILL) != 0 && errno != ESRCH)) {
    ::kill(pid, SIGKILL);
  }
  // Only a child of ours can be reaped: a pid reused meanwhile is left alone.
  int status = 0;
  (void)retry_on_eintr([&] { return ::waitpid(pid, &status, 0); });
}

}  // namespace tovrel::base
