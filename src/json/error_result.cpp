#include "json/error_result.h"

#include "base/os_error.h"

namespace tovrel::json {

JsonValue error_result(std::string text) {
  JsonValue result = object();
  result["error"] = std::move(text);
  return result;
}

JsonValue error_result(std::string_view step, std::string_view cause) {
  return error_result(base::with_cause(step, cause));
}

}  // namespace tovrel::json
