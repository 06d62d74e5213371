#pragma once
// The JSON parser (RFC 8259): bytes to JsonValue. Errors read "{} at line {} column {}".

#include <string_view>

#include "base/result.h"
#include "json/value.h"

namespace tovrel::json {

// Parses one whole document: at most 127 nested arrays/objects, only space, tab, LF and CR
// after the value, a repeated key keeps its last value, strings must be valid Unicode.
base::Result<JsonValue> parse(std::string_view bytes);

}  // namespace tovrel::json
