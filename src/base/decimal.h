#pragma once
// Shortest round-trip decimal digits of a double, and the plain Decimal text built on them.

#include <cstddef>
#include <string>
#include <string_view>

namespace tovrel::base {

// The shortest digits that read back as `value` (finite, non-zero magnitudes only), with the
// decimal exponent of the first digit: 1.5 gives {"15", 0}, 300 gives {"3", 2}.
struct ShortestDigits {
  char buffer[17];  // a double never needs more than 17 significant digits
  int count;
  int exponent;
  std::string_view digits() const { return {buffer, static_cast<std::size_t>(count)}; }
};
ShortestDigits shortest_digits(double value);

// Plain positional notation, never an exponent, no fraction for integral values, a '-' for
// every negative value including -0: 300, 1.5, 10000000000000000, -0, 0.000001.
// Infinities and NaN are written inf, -inf and NaN.
std::string decimal_text(double value);

}  // namespace tovrel::base
