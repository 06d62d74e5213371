#pragma once
// The JSON parser (RFC 8259): bytes to JsonValue, or to a Handler that receives the document's
// parts as they are read. Errors read "{} at line {} column {}".

#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "json/value.h"

namespace tovrel::json {

// Receives one document's parts in reading order: a scalar, or begin_array, the elements,
// end_array, or begin_object, then key and the value for each member, end_object. A repeated
// key is delivered each time it occurs. A view passed in is valid only during the call. When
// parsing fails part-way, the parts received so far are to be thrown away.
class Handler {
 public:
  virtual void null() = 0;
  virtual void boolean(bool value) = 0;
  virtual void u64(std::uint64_t value) = 0;
  virtual void i64(std::int64_t value) = 0;
  virtual void f64(double value) = 0;
  virtual void string(std::string_view value) = 0;
  virtual void key(std::string_view key) = 0;
  virtual void begin_array() = 0;
  virtual void end_array() = 0;
  virtual void begin_object() = 0;
  virtual void end_object() = 0;

 protected:
  ~Handler() = default;
};

// Parses one whole document: at most 127 nested arrays/objects, only space, tab, LF and CR
// after the value, strings must be valid Unicode (handed over as UTF-8).
base::Status parse(std::string_view bytes, Handler& handler);

// The same, into a value; a repeated key keeps its last value.
base::Result<JsonValue> parse(std::string_view bytes);

}  // namespace tovrel::json
