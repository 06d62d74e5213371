#pragma once
// The JSON parser (RFC 8259): bytes to JsonValue, or to a Handler that receives the document's
// parts as they are read. Errors read "{} at line {} column {}".

#include <string_view>

#include "base/result.h"
#include "json/handler.h"
#include "json/value.h"

namespace tovrel::json {

// Parses one whole document: at most 127 nested arrays/objects, only space, tab, LF and CR
// after the value, strings must be valid Unicode (handed over as UTF-8). When parsing fails
// part-way, the parts `handler` received so far are to be thrown away. A string or key without
// escapes is handed over as a view into `bytes` themselves, which stays valid as long as they
// do; one with escapes as a view of its decoded copy, valid only during the call.
base::Status parse(std::string_view bytes, Handler& handler);

// The same, into a value; a repeated key keeps its last value.
base::Result<JsonValue> parse(std::string_view bytes);

}  // namespace tovrel::json
