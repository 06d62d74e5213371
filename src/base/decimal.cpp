#include "base/decimal.h"

#include <charconv>
#include <cmath>

namespace tovrel::base {

ShortestDigits shortest_digits(double value) {
  char buf[32];
  // Scientific form without a precision gives the shortest round-trip digits: d.ddde±XX.
  const auto res =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
  ShortestDigits out{};
  const char* p = buf;
  for (; *p != 'e'; ++p) {
    if (*p != '.') out.buffer[out.count++] = *p;
  }
  const bool negative = p[1] == '-';
  int exponent = 0;
  for (p += 2; p < res.ptr; ++p) exponent = exponent * 10 + (*p - '0');
  out.exponent = negative ? -exponent : exponent;
  return out;
}

std::string decimal_text(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out = std::signbit(value) ? "-" : "";
  if (std::isinf(value)) return out + "inf";
  if (value == 0) return out + "0";
  const ShortestDigits sd = shortest_digits(value);
  const std::string_view digits = sd.digits();
  const int n = sd.count;
  if (sd.exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-sd.exponent - 1), '0');
    out += digits;
  } else if (sd.exponent + 1 >= n) {
    out += digits;
    out.append(static_cast<std::size_t>(sd.exponent + 1 - n), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(sd.exponent + 1));
    out += '.';
    out += digits.substr(static_cast<std::size_t>(sd.exponent + 1));
  }
  return out;
}

}  // namespace tovrel::base
