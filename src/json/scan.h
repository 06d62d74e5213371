#pragma once
// Eight bytes at a time: whether a stretch of a JSON string holds a byte that the parser or a
// writer must look at one by one. Inside the json module only.

#include <cstdint>
#include <cstring>

namespace tovrel::json::scan {

inline constexpr std::uint64_t kOnes = 0x0101010101010101u;
inline constexpr std::uint64_t kHigh = 0x8080808080808080u;

// The 8 bytes at `p`, in memory order.
inline std::uint64_t load8(const void* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// True when one of the bytes of `v` is a control character, '"' or '\\'. A byte of 0x80 or more
// never counts; a false alarm is possible only beside a byte that does count.
constexpr bool has_quote_backslash_or_control(std::uint64_t v) {
  const auto has_zero = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
  return ((v - kOnes * 0x20) & ~v & kHigh) != 0 || has_zero(v ^ (kOnes * '"')) != 0 ||
         has_zero(v ^ (kOnes * '\\')) != 0;
}

// The same, and also true when one of the bytes is 0x80 or more.
constexpr bool has_special_or_high(std::uint64_t v) {
  return (v & kHigh) != 0 || has_quote_backslash_or_control(v);
}

}  // namespace tovrel::json::scan
