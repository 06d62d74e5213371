#include "cli/startup.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "base/output.h"

namespace tovrel::cli {

void reopen_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = open("/dev/null", O_RDWR);
      if (opened == -1) abort();
      if (opened != fd) {
        // A lower descriptor was closed too and got it; loop order makes this impossible,
        // but never leave a standard stream closed.
        if (dup2(opened, fd) == -1) abort();
        close(opened);
      }
    }
  }
}

namespace {

// The main thread's stack reach, [g_reach_lowest, g_reach_top): the kernel grows that stack down
// on demand until it reaches RLIMIT_STACK below its top, and keeps a gap of stack_guard_gap
// pages (256 by default) free beneath it; an access anywhere in that reach is served by growing
// the stack, so a fault there means the stack ran out. It is worked out before the handler is
// installed, which may call only what is safe in a signal handler (sysconf is not), and without
// pthread_getattr_np, which reads /proc/self/maps to find the main stack (a tenth of a
// millisecond per run). The top is an address taken at start-up, a little below the true top,
// which only widens the reach by as much at its bottom. A stack without a limit ends where the
// next mapping begins, which only /proc/self/maps tells: its faults are not claimed (the reach
// stays empty). We never change the stack limit after start-up.
std::uintptr_t g_reach_lowest = 0;
std::uintptr_t g_reach_top = 0;
constexpr std::uintptr_t kStackGuardGapPages = 256;

void note_stack_reach(std::uintptr_t top) {
  rlimit limit;
  if (getrlimit(RLIMIT_STACK, &limit) != 0) return;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= top) return;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t reach =
      static_cast<std::uintptr_t>(limit.rlim_cur) + kStackGuardGapPages * page;
  g_reach_lowest = top > reach ? top - reach : 0;
  g_reach_top = top;
}

// Whether the signal was raised by a fault of our own rather than sent (kill, sigqueue, tgkill
// by any process, ours included), which the kernel marks with a code of zero or below.
bool raised_by_fault(const siginfo_t& info) { return info.si_code > 0; }

bool is_stack_overflow(std::uintptr_t addr) { return addr >= g_reach_lowest && addr < g_reach_top; }

void on_fault(int sig, siginfo_t* info, void*) {
  // A signal sent by another process carries no fault address (its pid sits in that place), and
  // returning would swallow it.
  if (!raised_by_fault(*info)) base::end_by_signal(sig);
  if (is_stack_overflow(reinterpret_cast<std::uintptr_t>(info->si_addr))) {
    static const char kText[] = "tovrel: stack overflow\n";
    ssize_t ignored = write(2, kText, sizeof kText - 1);
    (void)ignored;
    abort();
  }
  // Any other fault: restore the default action and let the instruction fault again, so that
  // the process ends at the faulting instruction itself.
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
}

}  // namespace

void install_stack_overflow_handler() {
  // The frame address, not a local's: a sanitizer may keep locals on a stack of its own.
  note_stack_reach(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)));
  static char alt_stack[64 * 1024];
  stack_t ss;
  memset(&ss, 0, sizeof ss);
  ss.ss_sp = alt_stack;
  ss.ss_size = sizeof alt_stack;
  if (sigaltstack(&ss, nullptr) != 0) return;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = on_fault;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGSEGV, &sa, nullptr);
  sigaction(SIGBUS, &sa, nullptr);
}

void install_out_of_memory_handler() { std::set_new_handler(base::out_of_memory); }

void start_up() {
  reopen_closed_standard_descriptors();
  install_out_of_memory_handler();
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  install_stack_overflow_handler();
}

}  // namespace tovrel::cli
