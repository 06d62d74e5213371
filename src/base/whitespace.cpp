#include "base/whitespace.h"

#include "base/utf8.h"

namespace tovrel::base {

namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

}  // namespace

std::string_view trim_unicode_whitespace(std::string_view text) {
  while (!text.empty()) {
    const Utf8Char c = decode_utf8(text);
    if (!c.valid || !is_white_space(c.code_point)) break;
    text.remove_prefix(c.length);
  }
  while (!text.empty()) {
    const Utf8Char c = decode_last_utf8(text);
    if (!c.valid || !is_white_space(c.code_point)) break;
    text.remove_suffix(c.length);
  }
  return text;
}

}  // namespace tovrel::base
