#include "exec/wait.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "base/decimal.h"
#include "base/os_error.h"
#include "base/sys.h"
#include "exec/messages.h"

namespace tovrel::exec {

namespace {

// Without a pidfd nothing wakes us when the child ends: we look at it this often, which
// bounds how late its end is seen.
constexpr long kPollIntervalNanos = 10'000'000;
constexpr double kTwoTo64 = 18446744073709551616.0;

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

std::string invalid_timeout_message(double timeout) {
  return base::with_cause(base::with_cause(kInvalidTimeout, base::decimal_text(timeout)),
                          kInvalidTimeoutRule);
}

TimeoutSender::~TimeoutSender() {
  if (state_) state_->sender_alive.store(false, std::memory_order_release);
}

void TimeoutSender::send() { state_->message.store(true, std::memory_order_release); }

Receive TimeoutReceiver::try_receive() {
  // The liveness is read first: a message sent before the sender went away is then seen.
  const bool alive = state_->sender_alive.load(std::memory_order_acquire);
  if (state_->message.exchange(false, std::memory_order_acq_rel)) return Receive::kMessage;
  return alive ? Receive::kEmpty : Receive::kDisconnected;
}

TimeoutChannel timeout_channel() {
  auto state = std::make_shared<channel_detail::State>();
  return TimeoutChannel{TimeoutSender(state), TimeoutReceiver(state)};
}

void timeout_timer(TimeoutSender sender, TimeoutDuration duration) {
  constexpr std::uint64_t kMaxSeconds = std::numeric_limits<std::int64_t>::max();
  std::uint64_t seconds = duration.seconds;
  long nanos = static_cast<long>(duration.nanos);
  while (seconds > 0 || nanos > 0) {
    const std::uint64_t step = seconds < kMaxSeconds ? seconds : kMaxSeconds;
    (void)base::sleep_fully(timespec{static_cast<time_t>(step), nanos});
    seconds -= step;
    nanos = 0;
  }
  sender.send();
}

WaitOutcome wait_with_timeout(ChildProcess& child, TimeoutReceiver& receiver) {
  // A pidfd becomes readable when the child ends, so the pause ends with it.
  const Fd& pidfd = child.pidfd;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(child.pid, &status, WNOHANG);
    if (r == child.pid) {
      child.wait_status = status;
      return ChildExited{status};
    }
    if (r < 0) return WaitError{errno};
    if (receiver.try_receive() == Receive::kMessage) return TimeoutExpired{};
    if (pidfd.valid()) {
      pollfd p{pidfd.get(), POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(kPollIntervalNanos / 1'000'000));
    } else {
      (void)base::sleep_fully(timespec{0, kPollIntervalNanos});
    }
  }
}

void kill_and_reap(ChildProcess& child) {
  ::kill(child.pid, SIGKILL);
  child.stdin_pipe.reset();
  int status = 0;
  if (base::retry_on_eintr([&] { return ::waitpid(child.pid, &status, 0); }) == child.pid) {
    child.wait_status = status;
  }
}

std::optional<int> exit_code(int status) {
  if ((status & 0x7f) == 0) return (status >> 8) & 0xff;
  return std::nullopt;
}

}  // namespace tovrel::exec
