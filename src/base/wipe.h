#pragma once
// Overwriting memory that held secret bytes, in a way the compiler may not drop as a dead
// store. The one wiping primitive: crypto's SecretBytes wipes through it too.

#include <cstddef>
#include <string>

namespace tovrel::base {

// Zeros `size` bytes at `data`.
void wipe(void* data, std::size_t size) noexcept;

// Zeros the whole capacity of `s` (bytes past its size may hold an earlier, longer content),
// then empties it; the buffer stays allocated.
void wipe(std::string& s) noexcept;

}  // namespace tovrel::base
