#pragma once
// A JSON document as a sequence of parts: what the parser hands over as it reads, and what a
// value hands over when it is walked. The builder of values and the text writers take them.

#include <cstdint>
#include <string_view>

#include "json/value.h"

namespace tovrel::json {

// Receives one document's parts in order: a scalar, or begin_array, the elements,
// end_array, or begin_object, then key and the value for each member, end_object. A repeated
// key is delivered each time it occurs. A view passed in is valid only during the call.
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

// Hands `value` to `handler` part by part, object members in their (byte) order.
void walk(const JsonValue& value, Handler& handler);

}  // namespace tovrel::json
