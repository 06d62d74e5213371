#include "cli/time.h"

#include <errno.h>
#include <time.h>

#include <algorithm>
#include <cstdint>

#include "base/os_error.h"
#include "base/output.h"
#include "base/sys.h"

namespace tovrel::cli {

namespace {

struct Duration {
  std::uint64_t secs = 0;
  std::uint64_t nanos = 0;
};

timespec read_clock(clockid_t clock, const char* name) {
  timespec ts;
  if (clock_gettime(clock, &ts) != 0) {
    base::internal_failure(std::string("clock_gettime(") + name +
                           "): " + base::os_error_text(errno));
  }
  if (ts.tv_nsec < 0 || ts.tv_nsec >= 1'000'000'000) {
    base::internal_failure(std::string("clock_gettime(") + name + "): nanoseconds out of range");
  }
  return ts;
}

// later - earlier, or zero when later lies before earlier.
Duration since(const timespec& later, const timespec& earlier) {
  if (later.tv_sec < earlier.tv_sec ||
      (later.tv_sec == earlier.tv_sec && later.tv_nsec < earlier.tv_nsec)) {
    return {};
  }
  Duration d;
  std::int64_t nanos = later.tv_nsec - earlier.tv_nsec;
  std::uint64_t secs =
      static_cast<std::uint64_t>(later.tv_sec) - static_cast<std::uint64_t>(earlier.tv_sec);
  if (nanos < 0) {
    nanos += 1'000'000'000;
    secs -= 1;
  }
  d.secs = secs;
  d.nanos = static_cast<std::uint64_t>(nanos);
  return d;
}

}  // namespace

json::JsonValue time_now() {
  const timespec now = read_clock(CLOCK_REALTIME, "CLOCK_REALTIME");
  const Duration d = since(now, timespec{0, 0});
  // Unsigned arithmetic wraps modulo 2^64 by design, far beyond any real clock.
  const std::uint64_t ns = d.secs * 1'000'000'000u + d.nanos;
  const std::uint64_t ms = d.secs * 1'000u + d.nanos / 1'000'000u;
  json::JsonValue result = json::object();
  result["timestamp_ns"] = ns;
  result["timestamp_ms"] = ms;
  return result;
}

json::JsonValue time_after(std::uint64_t ms) {
  const timespec start = read_clock(CLOCK_MONOTONIC, "CLOCK_MONOTONIC");
  // Whole seconds of a u64 count of milliseconds always fit in time_t.
  const timespec duration{static_cast<time_t>(ms / 1000),
                          static_cast<long>((ms % 1000) * 1'000'000)};
  if (const int err = base::sleep_fully(duration)) {
    base::internal_failure("nanosleep: " + base::os_error_text(err));
  }
  const timespec end = read_clock(CLOCK_MONOTONIC, "CLOCK_MONOTONIC");
  const Duration d = since(end, start);
  json::JsonValue result = json::object();
  result["elapsed_ms"] = d.secs * 1000u + d.nanos / 1'000'000u;
  return result;
}

}  // namespace tovrel::cli
