#pragma once
// Hexadecimal digits: the one table every hex form in the program is written from.

#include <string>
#include <string_view>

namespace tovrel::base {

// The lowercase digit of the low four bits of `v`.
constexpr char hex_digit(unsigned v) { return "0123456789abcdef"[v & 0xF]; }
// The uppercase digit of the low four bits of `v`.
constexpr char hex_digit_upper(unsigned v) { return "0123456789ABCDEF"[v & 0xF]; }

// Two lowercase digits per byte of `bytes`, high half first.
std::string hex_lower(std::string_view bytes);

}  // namespace tovrel::base
