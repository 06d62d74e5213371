#include "base/whitespace.h"

#include <cstdint>

namespace tovrel::base {

namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// Decodes the sequence of `len` bytes at `s` (well-formed UTF-8).
char32_t decode(const unsigned char* s, std::size_t len) {
  if (len == 1) return s[0];
  char32_t c = s[0] & (0xFF >> (len + 1));
  for (std::size_t i = 1; i < len; ++i) c = (c << 6) | (s[i] & 0x3F);
  return c;
}

std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return 2;
}

}  // namespace

std::string_view trim_unicode_whitespace(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end) {
    const std::size_t len = sequence_length(s[begin]);
    if (begin + len > end || !is_white_space(decode(s + begin, len))) break;
    begin += len;
  }
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && (s[start] & 0xC0) == 0x80) --start;
    if (!is_white_space(decode(s + start, end - start))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace tovrel::base
