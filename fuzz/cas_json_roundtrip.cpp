// Any bytes: the parser neither crashes nor hangs; the canonical text written while parsing is
// that of the parsed value (or the same error); a value that parses has a pure-ASCII
// canonical text that parses again to the same value and whose canonical text is stable from
// then on. The number reading (significand times a power of ten) is not correctly rounded, so
// a double may move by an ulp or two on its first trip through its shortest text; the check
// allows exactly that and nothing more.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "cas/canonical.h"
#include "json/parser.h"
#include "json/writer.h"

namespace {

using tovrel::json::JsonValue;

std::int64_t ordered_bits(double d) {
  std::int64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b < 0 ? std::numeric_limits<std::int64_t>::min() - b : b;
}

bool close_enough(const JsonValue& a, const JsonValue& b) {
  if (a.is_double() && b.is_double()) {
    const std::int64_t d = ordered_bits(a.as_double()) - ordered_bits(b.as_double());
    return d >= -8 && d <= 8;
  }
  if (a.storage().index() != b.storage().index()) return false;
  if (a.is_array()) {
    if (a.as_array().size() != b.as_array().size()) return false;
    for (std::size_t k = 0; k < a.as_array().size(); ++k) {
      if (!close_enough(a.as_array()[k], b.as_array()[k])) return false;
    }
    return true;
  }
  if (a.is_object()) {
    if (a.as_object().size() != b.as_object().size()) return false;
    auto i = a.as_object().begin();
    for (const auto& [k, v] : b.as_object()) {
      if (i->first != k || !close_enough(i->second, v)) return false;
      ++i;
    }
    return true;
  }
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto value = tovrel::json::parse(bytes);
  // The text that cas store writes while parsing is the value's text, or the same error.
  const auto streamed = tovrel::cas::canonicalize(bytes);
  if (streamed.ok() != value.ok()) std::abort();
  if (!value.ok()) {
    if (value.error().find(" at line ") == std::string::npos) std::abort();
    if (streamed.error() != value.error()) std::abort();
    return 0;
  }
  const std::string text = tovrel::cas::canonical_json(*value);
  if (*streamed != text) std::abort();
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) std::abort();
  }
  const auto again = tovrel::json::parse(text);
  if (!again.ok() || !close_enough(*value, *again)) std::abort();
  const std::string second = tovrel::cas::canonical_json(*again);
  const auto third = tovrel::json::parse(second);
  if (!third.ok()) std::abort();
  if (second != text && !close_enough(*again, *third)) std::abort();
  // The compact text reads back to the same value too.
  const auto compact = tovrel::json::parse(tovrel::json::to_compact(*value));
  if (!compact.ok() || !close_enough(*value, *compact)) std::abort();
  return 0;
}
