#include "cli/startup.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
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

std::uintptr_t g_stack_low = 0;    // lowest usable address of the main thread's stack
std::uintptr_t g_guard_size = 0;

void on_fault(int sig, siginfo_t* info, void*) {
  const auto addr = reinterpret_cast<std::uintptr_t>(info->si_addr);
  // A fault just below the stack's lowest usable address is a stack overflow.
  if (g_stack_low && addr < g_stack_low && addr + g_guard_size >= g_stack_low) {
    static const char kText[] = "tovrel: stack overflow\n";
    ssize_t ignored = write(2, kText, sizeof kText - 1);
    (void)ignored;
    abort();
  }
  // Any other fault: restore the default action and let the instruction fault again.
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
}

}  // namespace

void install_stack_overflow_handler() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
      const long page = sysconf(_SC_PAGESIZE);
      g_stack_low = reinterpret_cast<std::uintptr_t>(addr);
      // The kernel keeps a gap below the main stack; faults anywhere in it count.
      g_guard_size = static_cast<std::uintptr_t>(page) * 256;
    }
    pthread_attr_destroy(&attr);
  }
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
  install_stack_overflow_handler();
}

}  // namespace tovrel::cli
