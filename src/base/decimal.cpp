#include "base/decimal.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tovrel::base {

ShortestDigits shortest_digits(double value) {
  char buf[64];
  // Scientific form without a precision gives the shortest round-trip digits: d.ddde±XX.
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
  std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t e = text.find('e');
  ShortestDigits out;
  for (char c : text.substr(0, e)) {
    if (c != '.') out.digits += c;
  }
  out.exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  return out;
}

std::string decimal_text(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out = std::signbit(value) ? "-" : "";
  if (std::isinf(value)) return out + "inf";
  if (value == 0) return out + "0";
  const ShortestDigits sd = shortest_digits(value);
  const int n = static_cast<int>(sd.digits.size());
  if (sd.exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-sd.exponent - 1), '0');
    out += sd.digits;
  } else if (sd.exponent + 1 >= n) {
    out += sd.digits;
    out.append(static_cast<std::size_t>(sd.exponent + 1 - n), '0');
  } else {
    out += sd.digits.substr(0, static_cast<std::size_t>(sd.exponent + 1));
    out += '.';
    out += sd.digits.substr(static_cast<std::size_t>(sd.exponent + 1));
  }
  return out;
}

}  // namespace tovrel::base
