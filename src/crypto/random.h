#pragma once
// The operating system's random source.

#include <cstddef>

#include "base/result.h"

namespace tovrel::crypto {

// Fills `size` bytes at `out` from getrandom(2). On a kernel without it, waits until
// /dev/random is readable (the pool is initialised) and reads /dev/urandom instead.
// The error text names the failing call and its OS error, e.g. "getrandom: {}".
base::Status random_bytes(void* out, std::size_t size);

}  // namespace tovrel::crypto
