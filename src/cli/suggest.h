#pragma once
// Name suggestions for usage errors: Jaro similarity over code points.

#include <string>
#include <string_view>
#include <vector>

namespace tovrel::cli {

// The Jaro similarity of two texts, compared by code point.
double jaro(std::string_view a, std::string_view b);

// The candidates whose similarity to `text` is strictly above 0.7, least similar first (ties
// keep the candidates' order).
std::vector<std::string> similar_names(std::string_view text,
                                       const std::vector<std::string>& candidates);

}  // namespace tovrel::cli
