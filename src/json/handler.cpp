// parse() into a JsonValue: a Handler that builds the value, one open array or object per
// nesting level.

#include <string>
#include <utility>
#include <vector>

#include "json/parser.h"

namespace tovrel::json {

namespace {

class Builder final : public Handler {
 public:
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
  struct Open {
    JsonValue value;
    std::string key;  // the member being read, in an object
  };

  void add(JsonValue value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return;
    }
    Open& top = open_.back();
    if (top.value.is_array()) {
      top.value.as_array().push_back(std::move(value));
    } else {
      // Keys usually come in order; the hint makes that case cheap. A repeated key keeps its
      // last value.
      Object& members = top.value.as_object();
      members.insert_or_assign(members.end(), std::move(top.key), std::move(value));
    }
  }

  void close() {
    JsonValue done = std::move(open_.back().value);
    open_.pop_back();
    add(std::move(done));
  }

  JsonValue root_;
  std::vector<Open> open_;
};

}  // namespace

base::Result<JsonValue> parse(std::string_view bytes) {
  Builder builder;
  base::Status parsed = parse(bytes, builder);
  if (!parsed) return std::move(parsed).take_error();
  return builder.take();
}

}  // namespace tovrel::json
