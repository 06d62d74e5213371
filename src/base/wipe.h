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

// Room for at least `n` bytes in `s`, always in a heap buffer, never in the string's inline
// storage, whose bytes a move copies and leaves behind: a string that will hold a secret then
// hands over its one buffer when it is moved on.
void reserve_on_heap(std::string& s, std::size_t n);

}  // namespace tovrel::base
