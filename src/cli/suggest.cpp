#include "cli/suggest.h"

#include <algorithm>
#include <cstdint>

#include "base/utf8.h"

namespace tovrel::cli {

namespace {

// The code points of `text`; ill-formed bytes each count as one U+FFFD.
std::vector<std::uint32_t> code_points(std::string_view text) {
  std::vector<std::uint32_t> out;
  std::size_t i = 0;
  while (i < text.size()) {
    const base::Utf8Char c = base::decode_utf8(text.substr(i));
    out.push_back(c.code_point);
    i += c.length;
  }
  return out;
}

}  // namespace

double jaro(std::string_view a_text, std::string_view b_text) {
  const std::vector<std::uint32_t> a = code_points(a_text);
  const std::vector<std::uint32_t> b = code_points(b_text);
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  std::size_t range = std::max(a.size(), b.size()) / 2;
  range = range > 0 ? range - 1 : 0;
  std::vector<bool> a_flags(a.size()), b_flags(b.size());
  std::size_t matches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t lo = i > range ? i - range : 0;
    const std::size_t hi = std::min(b.size(), i + range + 1);
    for (std::size_t j = lo; j < hi; ++j) {
      if (!b_flags[j] && a[i] == b[j]) {
        a_flags[i] = b_flags[j] = true;
        ++matches;
        break;
      }
    }
  }
  if (matches == 0) return 0.0;
  std::size_t transpositions = 0;
  std::size_t j = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!a_flags[i]) continue;
    while (!b_flags[j]) ++j;
    if (a[i] != b[j]) ++transpositions;
    ++j;
  }
  transpositions /= 2;
  const double m = static_cast<double>(matches);
  return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) +
          static_cast<double>(matches - transpositions) / m) /
         3.0;
}

std::vector<std::string> similar_names(std::string_view text,
                                       const std::vector<std::string>& candidates) {
  std::vector<std::pair<double, std::string>> kept;
  for (const std::string& c : candidates) {
    const double score = jaro(text, c);
    if (score > 0.7) kept.emplace_back(score, c);
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<std::string> out;
  for (auto& k : kept) out.push_back(std::move(k.second));
  return out;
}

}  // namespace tovrel::cli
