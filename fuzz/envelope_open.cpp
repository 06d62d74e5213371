// Any bytes as the envelope document, opened with a fixed box key: no crash, no hang, and
// always exactly one result: `error` alone, or `env` (an object of strings) with `skipped`
// (a non-empty array of strings) only when a name was refused.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "envelope/env_map.h"
#include "envelope/open.h"

namespace {

bool is_string_array(const tovrel::json::JsonValue& v) {
  if (!v.is_array() || v.as_array().empty()) return false;
  for (const auto& e : v.as_array()) {
    if (!e.is_string()) return false;
  }
  return true;
}

bool well_formed(const tovrel::json::JsonValue& result) {
  if (!result.is_object()) return false;
  const auto& o = result.as_object();
  if (const auto* error = result.find("error")) return o.size() == 1 && error->is_string();
  const auto* env = result.find("env");
  if (env == nullptr || !env->is_object()) return false;
  for (const auto& [name, value] : env->as_object()) {
    if (!value.is_string() || !tovrel::envelope::is_safe_env_name(name)) return false;
  }
  const auto* skipped = result.find("skipped");
  return o.size() == 1 || (o.size() == 2 && skipped != nullptr && is_string_array(*skipped));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The box secret 0x01..0x20, as a key file would hold it.
  static const std::string kBoxKey = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA";
  int reads = 0;
  const tovrel::json::JsonValue result =
      tovrel::envelope::open_envelope(std::string_view(reinterpret_cast<const char*>(data), size),
                                      [&reads]() -> tovrel::base::Result<std::string_view> {
                                        ++reads;
                                        return std::string_view(kBoxKey);
                                      });
  if (!well_formed(result) || reads > 1) std::abort();
  return 0;
}
