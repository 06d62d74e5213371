#include "base/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovrel::base {

std::size_t utf8_sequence_length(std::string_view s, std::size_t* maximal) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = at(0);
  if (b0 < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    if (maximal) *maximal = 1;
    return 0;
  }
  std::size_t i = 1;
  for (; i < need; ++i) {
    if (i >= s.size()) break;
    const unsigned char b = at(i);
    const bool good = (i == 1) ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!good) break;
  }
  if (i == need) return need;
  if (maximal) *maximal = i;
  return 0;
}

Utf8Char decode_utf8(std::string_view s) {
  std::size_t maximal = 1;
  const std::size_t len = utf8_sequence_length(s, &maximal);
  if (len == 0) return {kReplacementCharacter, maximal, false};
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (len == 1) return {b0, 1, true};
  // The lead byte keeps 7 - len bits; each continuation byte adds six.
  char32_t c = b0 & (0x7F >> len);
  for (std::size_t i = 1; i < len; ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  return {c, len, true};
}

Utf8Char decode_last_utf8(std::string_view text) {
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 &&
         (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  return decode_utf8(text.substr(start));
}

namespace {

// The offset of the first byte of s[i..] that is 0x80 or more, or s.size(). Sixteen bytes at
// a time: large inputs (envelopes, captured output) are mostly ASCII.
std::size_t skip_ascii(std::string_view s, std::size_t i) {
#if defined(__SSE2__)
  while (s.size() - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    const int high = _mm_movemask_epi8(v);
    if (high != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(high)));
    i += 16;
  }
#endif
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

}  // namespace

bool is_valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    i = skip_ascii(s, i);
    if (i == s.size()) break;
    const std::size_t n = utf8_sequence_length(s.substr(i), nullptr);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string utf8_lossy(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t maximal = 0;
    const std::size_t n = utf8_sequence_length(s.substr(i), &maximal);
    if (n) {
      out.append(s.data() + i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      i += maximal;
    }
  }
  return out;
}

}  // namespace tovrel::base
