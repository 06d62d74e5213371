#pragma once
// The result of an operation that failed with a text: {"error": text}. Every handler that
// reports a failure this way builds it here, so the key is spelled once.

#include <string>
#include <string_view>

#include "json/value.h"

namespace tovrel::json {

JsonValue error_result(std::string text);
// "{step}: {cause}", the shape of every error with an underlying cause.
JsonValue error_result(std::string_view step, std::string_view cause);

}  // namespace tovrel::json
