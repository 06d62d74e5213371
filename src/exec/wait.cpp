#include "exec/wait.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "base/os_error.h"
#include "base/output.h"
#include "base/running_child.h"
#include "base/sys.h"
#include "exec/messages.h"

namespace tovrel::exec {

namespace {

constexpr double kTwoTo64 = 18446744073709551616.0;

// Without a pidfd (kernels before 5.3, or where it is refused) nothing wakes us when the child
// ends: we look at it this often, which bounds how late its end is seen.
constexpr std::chrono::milliseconds kPollInterval{10};

}  // namespace

std::optional<TimeoutDuration> timeout_duration(double timeout) {
  // NaN fails both comparisons; -0 >= 0 holds.
  if (!(timeout >= 0.0) || !(timeout < kTwoTo64)) return std::nullopt;
  const double whole = std::floor(timeout);
  TimeoutDuration d;
  d.seconds = static_cast<std::uint64_t>(whole);
  const double fraction = timeout - whole;  // exact: the low bits of `timeout`
  if (fraction == 0.0) return d;
  // fraction = mantissa * 2^-shift exactly; nanos = round(mantissa * 1e9 / 2^shift).
  int exponent = 0;
  const double f = std::frexp(fraction, &exponent);  // fraction = f * 2^exponent, f in [0.5, 1)
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(f, 53));
  const int shift = 53 - exponent;  // > 53, since fraction < 1
  const unsigned __int128 product = static_cast<unsigned __int128>(mantissa) * 1'000'000'000u;
  std::uint64_t nanos = 0;
  if (shift < 128) {
    const unsigned __int128 one = 1;
    const unsigned __int128 quotient = product >> shift;
    const unsigned __int128 rest = product & ((one << shift) - 1);
    const unsigned __int128 half = one << (shift - 1);
    nanos = static_cast<std::uint64_t>(quotient);
    if (rest > half || (rest == half && (nanos & 1))) ++nanos;
  }
  if (nanos == 1'000'000'000u) {
    ++d.seconds;
    nanos = 0;
  }
  d.nanos = static_cast<std::uint32_t>(nanos);
  return d;
}

ChildWatch::ChildWatch(ChildProcess& child, TimeoutDuration timeout, SignalRelay* relay)
    : child_(child), deadline_(base::later(base::monotonic_now(), timeout)), relay_(relay) {
  // Recorded until it is reaped (look_at_child, kill_and_reap), or a wait for it fails.
  base::set_running_child(child.pid, child.pidfd.get());
}

void ChildWatch::feed(Fd pipe, std::string_view data) {
  // Ours alone: a write then takes what the pipe has room for and never blocks the loop.
  (void)base::set_nonblocking(pipe.get());
  if (data.empty()) return;  // closing the pipe is all there is to do
  channels_.push_back(Channel{std::move(pipe), data, nullptr});
}

void ChildWatch::capture(Fd pipe, base::InputBytes* into) {
  (void)base::set_nonblocking(pipe.get());
  channels_.push_back(Channel{std::move(pipe), {}, into});
}

void ChildWatch::serve(Channel& channel) {
  const int fd = channel.fd.get();
  if (channel.into) {
    const std::span<char> room = channel.into->room();
    if (room.empty()) base::out_of_memory();
    const ssize_t n = base::read_now(fd, room.data(), room.size());
    if (n > 0) channel.into->commit(static_cast<std::size_t>(n));
    if (n == 0 || (n < 0 && errno != EAGAIN)) channel.fd.reset();
    return;
  }
  const ssize_t n = base::write_now(fd, channel.data.data(), channel.data.size());
  if (n > 0) channel.data.remove_prefix(static_cast<std::size_t>(n));
  // EPIPE and the like: the child takes no more, and the rest is dropped.
  if (channel.data.empty() || (n < 0 && errno != EAGAIN)) channel.fd.reset();
}

void ChildWatch::take_what_is_held() {
  for (Channel& channel : channels_) {
    if (!channel.fd.valid() || !channel.into) continue;
    base::InputBytes& into = *channel.into;
    base::read_held(
        channel.fd.get(),
        [&into](std::size_t want) {
          const std::span<char> room = into.room(want);
          if (room.empty()) base::out_of_memory();
          return room;
        },
        [&into](std::size_t count) { into.commit(count); });
  }
  channels_.clear();
}

std::optional<WaitOutcome> ChildWatch::look_at_child(bool timed_out) {
  int status = 0;
  const pid_t r = ::waitpid(child_.pid, &status, WNOHANG);
  if (r == child_.pid) {
    base::clear_running_child();
    child_.wait_status = status;
    return ChildExited{status};
  }
  // Not retried, not even when interrupted: nothing is known of the child then.
  if (r < 0) {
    const int err = errno;
    base::clear_running_child();
    return WaitError{err};
  }
  if (!timed_out) return std::nullopt;
  kill_and_reap(child_);
  return TimeoutExpired{};
}

WaitOutcome ChildWatch::wait() {
  std::optional<WaitOutcome> outcome;
  timespec drain_until{};
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    for (const Channel& c : channels_) {
      if (!c.fd.valid()) continue;
      fds.push_back({c.fd.get(), static_cast<short>(c.into ? POLLIN : POLLOUT), 0});
    }
    if (outcome && fds.empty()) break;
    const bool watch_pidfd = !outcome && child_.pidfd.valid();
    if (watch_pidfd) fds.push_back({child_.pidfd.get(), POLLIN, 0});

    timespec now = base::monotonic_now();
    std::optional<timespec> limit = outcome ? drain_until : deadline_;
    if (!outcome && signal_deadline_ && (!limit || base::before(*signal_deadline_, *limit))) {
      limit = signal_deadline_;
    }
    if (!outcome && !child_.pidfd.valid()) {
      const std::optional<timespec> next = base::later(now, kPollInterval);
      if (!limit || (next && base::before(*next, *limit))) limit = next;
    }
    timespec pause{};
    if (limit) pause = base::until(now, *limit);
    const int ready = ::ppoll(fds.data(), fds.size(), limit ? &pause : nullptr,
                              relay_ ? relay_->waiting_mask() : nullptr);
    if (ready < 0 && errno != EINTR) {
      base::internal_failure(base::with_cause(kPollFailed, base::os_error_text(errno)));
    }
    if (ready > 0) {
      std::size_t i = 0;
      for (Channel& c : channels_) {
        if (!c.fd.valid()) continue;
        if (fds[i++].revents) serve(c);
      }
    }
    if (relay_ && relay_signal(outcome.has_value())) break;
    now = base::monotonic_now();
    if (!outcome) {
      const bool timed_out = (deadline_ && !base::before(now, *deadline_)) ||
                             (signal_deadline_ && !base::before(now, *signal_deadline_));
      const bool child_may_have_ended = !watch_pidfd || timed_out || fds.back().revents;
      if (child_may_have_ended) outcome = look_at_child(timed_out);
      // Nothing more is wanted of the pipes when a signal is to end us.
      if (outcome && relay_ && relay_->first()) break;
      if (outcome) {
        drain_until = *base::later(base::monotonic_now(), kPipeDrainGrace);
      }
    } else if (!base::before(now, drain_until)) {
      break;
    }
  }
  take_what_is_held();
  return *outcome;
}

bool ChildWatch::relay_signal(bool child_gone) {
  const std::optional<CaughtSignal> caught = relay_->take();
  if (!caught) return false;
  if (child_gone) return true;
  if (!caught->from_kernel) ::kill(child_.pid, caught->sig);
  if (!signal_deadline_) signal_deadline_ = base::later(base::monotonic_now(), kSignalGrace);
  return false;
}

void kill_and_reap(ChildProcess& child) {
  ::kill(child.pid, SIGKILL);
  child.stdin_pipe.reset();
  int status = 0;
  if (base::retry_on_eintr([&] { return ::waitpid(child.pid, &status, 0); }) == child.pid) {
    child.wait_status = status;
  }
  base::clear_running_child();
}

std::optional<int> exit_code(int status) {
  if ((status & 0x7f) == 0) return (status >> 8) & 0xff;
  return std::nullopt;
}

}  // namespace tovrel::exec
