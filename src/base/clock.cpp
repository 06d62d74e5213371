#include "base/clock.h"

#include <errno.h>

#include <limits>
#include <string>

#include "base/os_error.h"
#include "base/output.h"

namespace tovrel::base {

namespace {

std::string clock_step(clockid_t clock) {
  std::string step(kClockGettime);
  step += clock == CLOCK_REALTIME ? "(CLOCK_REALTIME)" : "(CLOCK_MONOTONIC)";
  return step;
}

}  // namespace

timespec read_clock(clockid_t clock) {
  timespec ts;
  if (::clock_gettime(clock, &ts) != 0) {
    internal_failure(with_cause(clock_step(clock), os_error_text(errno)));
  }
  if (ts.tv_nsec < 0 || ts.tv_nsec >= kNanosPerSecond) {
    internal_failure(with_cause(clock_step(clock), kNanosOutOfRange));
  }
  return ts;
}

timespec monotonic_now() { return read_clock(CLOCK_MONOTONIC); }

bool before(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

Duration elapsed(const timespec& from, const timespec& to) {
  if (before(to, from)) return {};
  std::uint64_t seconds =
      static_cast<std::uint64_t>(to.tv_sec) - static_cast<std::uint64_t>(from.tv_sec);
  long nanos = to.tv_nsec - from.tv_nsec;
  if (nanos < 0) {
    nanos += kNanosPerSecond;
    --seconds;
  }
  return {seconds, static_cast<std::uint32_t>(nanos)};
}

double elapsed_ms(const timespec& from, const timespec& to) {
  const Duration d = elapsed(from, to);
  return (static_cast<double>(d.seconds) + static_cast<double>(d.nanos) / 1e9) * 1000.0;
}

std::optional<timespec> later(const timespec& from, Duration span) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<time_t>::max());
  if (span.seconds >= kMax - static_cast<std::uint64_t>(from.tv_sec)) return std::nullopt;
  timespec t{from.tv_sec + static_cast<time_t>(span.seconds), from.tv_nsec + span.nanos};
  if (t.tv_nsec >= kNanosPerSecond) {
    t.tv_nsec -= kNanosPerSecond;
    ++t.tv_sec;
  }
  return t;
}

std::optional<timespec> later(const timespec& from, std::chrono::nanoseconds span) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span);
  return later(from, Duration{static_cast<std::uint64_t>(seconds.count()),
                              static_cast<std::uint32_t>((span - seconds).count())});
}

timespec until(const timespec& now, const timespec& then) {
  const Duration d = elapsed(now, then);
  return {static_cast<time_t>(d.seconds), static_cast<long>(d.nanos)};
}

}  // namespace tovrel::base
