#include "exec/signal_relay.h"

#include <pthread.h>
#include <string.h>

#include <atomic>

#include "base/output.h"

namespace tovrel::exec {

namespace {

constexpr int kRelayed[3] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kFromKernel = 0x100;

// The caught signal (with kFromKernel) not yet taken; 0 when none. The first caught wins.
std::atomic<int> g_caught{0};

void on_signal(int sig, siginfo_t* info, void*) {
  int none = 0;
  const int value = sig | (info && info->si_code == SI_KERNEL ? kFromKernel : 0);
  g_caught.compare_exchange_strong(none, value);
}

sigset_t relayed_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kRelayed) sigaddset(&set, sig);
  return set;
}

}  // namespace

SignalRelay::SignalRelay() {
  g_caught.store(0);
  sigemptyset(&before_);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = on_signal;
  sa.sa_flags = SA_SIGINFO | SA_RESTART;
  sa.sa_mask = relayed_set();
  for (int i = 0; i < 3; ++i) {
    if (::sigaction(kRelayed[i], nullptr, &previous_[i]) != 0) continue;
    if (previous_[i].sa_handler == SIG_IGN) continue;
    caught_[i] = ::sigaction(kRelayed[i], &sa, nullptr) == 0;
  }
}

SignalRelay::~SignalRelay() { restore(); }

void SignalRelay::hold() {
  const sigset_t set = relayed_set();
  held_ = ::pthread_sigmask(SIG_BLOCK, &set, &before_) == 0;
}

std::optional<CaughtSignal> SignalRelay::take() {
  const int value = g_caught.exchange(0);
  if (value == 0) return std::nullopt;
  const CaughtSignal caught{value & (kFromKernel - 1), (value & kFromKernel) != 0};
  if (!first_) first_ = caught.sig;
  return caught;
}

void SignalRelay::restore() {
  if (restored_) return;
  restored_ = true;
  for (int i = 0; i < 3; ++i) {
    if (caught_[i]) ::sigaction(kRelayed[i], &previous_[i], nullptr);
  }
  // A signal that came while held, after the last look, now takes its default action.
  if (held_) ::pthread_sigmask(SIG_SETMASK, &before_, nullptr);
}

void SignalRelay::finish() {
  restore();
  (void)take();
  if (first_) base::end_by_signal(*first_);
}

}  // namespace tovrel::exec
