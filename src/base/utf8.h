#pragma once
// UTF-8 validation and lossy decoding.

#include <cstddef>
#include <string>
#include <string_view>

namespace tovrel::base {

// The cause given when bytes read as text are not UTF-8.
inline constexpr std::string_view kInvalidUtf8Stream = "stream did not contain valid UTF-8";

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// Length of the well-formed sequence starting at bytes[0], or 0 when bytes[0] does not start
// one; `*maximal` receives the length of the maximal subpart to replace in that case (>= 1).
std::size_t utf8_sequence_length(std::string_view bytes, std::size_t* maximal);

// One step of decoding: the code point at the front of the bytes and how many bytes it took.
// An ill-formed sequence decodes as U+FFFD over its maximal subpart (what lossy decoding
// replaces), with `valid` false.
struct Utf8Char {
  char32_t code_point;
  std::size_t length;
  bool valid;
};
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the character that `bytes` (not empty) starts with.
Utf8Char decode_utf8(std::string_view bytes);

// Decodes the character that ends at the end of `text` (well-formed UTF-8, not empty).
Utf8Char decode_last_utf8(std::string_view text);

// `bytes` with every maximal ill-formed subpart replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

}  // namespace tovrel::base
