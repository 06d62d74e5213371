#pragma once
// A JSON document as a sequence of parts: what the parser hands over as it reads, and what a
// value hands over when it is walked. The builder of values and the text writers take them.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Builds a value from the parts, as parse() does: a repeated key keeps its last value. A
// handler that wants the value of most of a document, but some part of it otherwise, can hand
// the rest on to one of these.
class ValueBuilder final : public Handler {
 public:
  // The value built; the builder is left empty.
  JsonValue take() { return std::move(root_); }

  void null() override { add(JsonValue()); }
  void boolean(bool value) override { add(JsonValue(value)); }
  void u64(std::uint64_t value) override { add(JsonValue(value)); }
  void i64(std::int64_t value) override { add(JsonValue(value)); }
  void f64(double value) override { add(JsonValue(value)); }
  void string(std::string_view value) override { add(JsonValue(value)); }
  void key(std::string_view key) override { open_.back().key.assign(key); }
  void begin_array() override { open_.emplace_back().value = Array{}; }
  void end_array() override { close(); }
  void begin_object() override { open_.emplace_back().value = Object{}; }
  void end_object() override { close(); }

 private:
  // One per open array or object.
  struct Open {
    JsonValue value;
    std::string key;  // the member being read, in an object
  };

  void add(JsonValue value);
  void close();

  JsonValue root_;
  std::vector<Open> open_;
};

// Hands `value` to `handler` part by part, object members in their (byte) order.
void walk(const JsonValue& value, Handler& handler);

}  // namespace tovrel::json
