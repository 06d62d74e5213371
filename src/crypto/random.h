#pragma once
// The operating system's random source.

#include <cstddef>

#include "base/result.h"

namespace tovrel::crypto {

// Fills `size` bytes at `out` from getrandom(2). On a kernel without it, waits until
// /dev/random is readable (the pool is initialised) and reads /dev/urandom instead.
// The error text names the failing call and its OS error, e.g. "getrandom: {}".
base::Status random_bytes(void* out, std::size_t size);

// The fallback alone: waits for /dev/random to turn readable, then reads /dev/urandom.
// Errors: "open /dev/random: {}", "poll /dev/random: {}", "open /dev/urandom: {}",
// "read /dev/urandom: {}" (an early end of file counts as EIO).
base::Status random_bytes_from_devices(void* out, std::size_t size);

}  // namespace tovrel::crypto
