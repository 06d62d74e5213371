#pragma once
// Finding the next byte of a JSON string that needs a closer look: a control character, '"',
// '\\', and optionally any byte of 0x80 or more. Sixteen bytes at a time with SSE2, which every
// x86-64 processor has; one at a time elsewhere. Inside the json module only.

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovrel::json::scan {

// Per byte: kSpecial for a control character, '"' and '\\', kHigh for 0x80 and above.
inline constexpr std::uint8_t kSpecial = 1;
inline constexpr std::uint8_t kHigh = 2;
inline constexpr auto kByteClass = [] {
  struct Table {
    std::uint8_t of[256];
  } t{};
  for (int c = 0; c < 256; ++c) {
    t.of[c] = c < 0x20 || c == '"' || c == '\\' ? kSpecial : c >= 0x80 ? kHigh : 0;
  }
  return t;
}();

// The offset of the first byte of p[0..n) that is a control character, '"' or '\\', or, when
// `high` is set, 0x80 or more; n when there is none.
template <bool high>
std::size_t find_special(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Per byte of the 16 at q: all ones where it counts (high bytes keep at least their top bit).
  const auto flags = [](const unsigned char* q) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    // Below 0x20 as unsigned bytes: the saturating subtraction of 0x1F leaves zero.
    __m128i hit =
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
    hit = _mm_or_si128(hit,
                       _mm_cmpeq_epi8(_mm_subs_epu8(v, _mm_set1_epi8(0x1F)), _mm_setzero_si128()));
    if constexpr (high) hit = _mm_or_si128(hit, v);
    return hit;
  };
  // Long stretches 64 bytes at a time; the 16-byte steps then find the place.
  for (; i + 64 <= n; i += 64) {
    const __m128i any = _mm_or_si128(_mm_or_si128(flags(p + i), flags(p + i + 16)),
                                     _mm_or_si128(flags(p + i + 32), flags(p + i + 48)));
    if (_mm_movemask_epi8(any) != 0) break;
  }
  for (; i + 16 <= n; i += 16) {
    const int mask = _mm_movemask_epi8(flags(p + i));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  constexpr std::uint8_t wanted = high ? kSpecial | kHigh : kSpecial;
  for (; i < n; ++i) {
    if (kByteClass.of[p[i]] & wanted) return i;
  }
  return n;
}

}  // namespace tovrel::json::scan
