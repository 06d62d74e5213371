#pragma once
// The Time primitive: `time now` and `time after`.

#include <cstdint>

#include "json/value.h"

namespace tovrel::cli {

// {"timestamp_ms", "timestamp_ns"} since the Unix epoch from one CLOCK_REALTIME reading.
json::JsonValue time_now();

// Sleeps `ms` milliseconds (resuming after signals) and returns {"elapsed_ms"} measured on
// CLOCK_MONOTONIC.
json::JsonValue time_after(std::uint64_t ms);

}  // namespace tovrel::cli
