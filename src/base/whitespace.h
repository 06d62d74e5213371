#pragma once
// Trimming of characters with the Unicode White_Space property.

#include <string_view>

namespace tovrel::base {

// `text` (valid UTF-8) without White_Space characters at either end: U+0009..U+000D, U+0020,
// U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
std::string_view trim_unicode_whitespace(std::string_view text);

}  // namespace tovrel::base
