#pragma once
// Shortest round-trip decimal digits of a double, and the plain Decimal text built on them.

#include <string>

namespace tovrel::base {

// The shortest digits that read back as `value` (finite, non-zero magnitudes only), with the
// decimal exponent of the first digit: 1.5 gives {"15", 0}, 300 gives {"3", 2}.
struct ShortestDigits {
  std::string digits;
  int exponent;
};
ShortestDigits shortest_digits(double value);

// Plain positional notation, never an exponent, no fraction for integral values, a '-' for
// every negative value including -0: 300, 1.5, 10000000000000000, -0, 0.000001.
// Infinities and NaN are written inf, -inf and NaN.
std::string decimal_text(double value);

}  // namespace tovrel::base
