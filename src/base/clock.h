#pragma once
// The clocks this program reads, and the arithmetic on their readings (timespec): spans
// between two readings, deadlines, and pauses until them.

#include <time.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tovrel::base {

inline constexpr long kNanosPerSecond = 1'000'000'000;

// The internal failure of a clock that cannot be read: "clock_gettime({clock}): {cause}".
inline constexpr std::string_view kClockGettime = "clock_gettime";
inline constexpr std::string_view kNanosOutOfRange = "nanoseconds out of range";

// A span of time, never negative.
struct Duration {
  std::uint64_t seconds = 0;
  std::uint32_t nanos = 0;  // 0..999999999
  bool operator==(const Duration&) const = default;
};

// The reading of `clock` (CLOCK_REALTIME or CLOCK_MONOTONIC). A clock that cannot be read,
// or that gives nanoseconds out of range, ends the process as an internal failure.
timespec read_clock(clockid_t clock);
// The reading of the monotonic clock.
timespec monotonic_now();

// Whether `a` lies before `b`.
bool before(const timespec& a, const timespec& b);

// The span from `from` to `to`; zero when `to` lies before `from`.
Duration elapsed(const timespec& from, const timespec& to);
// The same in milliseconds, with their fraction.
double elapsed_ms(const timespec& from, const timespec& to);

// `from` (a monotonic reading) plus `span`, or none when that lies beyond what a timespec
// holds.
std::optional<timespec> later(const timespec& from, Duration span);
std::optional<timespec> later(const timespec& from, std::chrono::nanoseconds span);

// How long from `now` until `then`, as the timeout of a wait; zero once it has passed.
timespec until(const timespec& now, const timespec& then);

}  // namespace tovrel::base
