#include "cli/time.h"

#include <time.h>

#include <cstdint>

#include "base/clock.h"
#include "base/os_error.h"
#include "base/output.h"
#include "base/sys.h"

namespace tovrel::cli {

json::JsonValue time_now() {
  const timespec now = base::read_clock(CLOCK_REALTIME);
  const base::Duration d = base::elapsed(timespec{0, 0}, now);
  // Unsigned arithmetic wraps modulo 2^64 by design, far beyond any real clock.
  const std::uint64_t ns = d.seconds * 1'000'000'000u + d.nanos;
  const std::uint64_t ms = d.seconds * 1'000u + d.nanos / 1'000'000u;
  json::JsonValue result = json::object();
  result["timestamp_ns"] = ns;
  result["timestamp_ms"] = ms;
  return result;
}

json::JsonValue time_after(std::uint64_t ms) {
  const timespec start = base::monotonic_now();
  // Whole seconds of a u64 count of milliseconds always fit in time_t.
  const timespec duration{static_cast<time_t>(ms / 1000),
                          static_cast<long>((ms % 1000) * 1'000'000)};
  if (const int err = base::sleep_fully(duration)) {
    base::internal_failure("nanosleep: " + base::os_error_text(err));
  }
  const base::Duration d = base::elapsed(start, base::monotonic_now());
  json::JsonValue result = json::object();
  result["elapsed_ms"] = d.seconds * 1000u + d.nanos / 1'000'000u;
  return result;
}

}  // namespace tovrel::cli
