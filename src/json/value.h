#pragma once
// JsonValue: the value model every result is built in and every parsed document lands in.
// Object keys are held in ascending byte order, which is the order they are written in.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tovrel::json {

class JsonValue;
using Array = std::vector<JsonValue>;
// std::string compares through char_traits<char>, which orders as unsigned bytes.
using Object = std::map<std::string, JsonValue, std::less<>>;

class JsonValue {
 public:
  using Storage = std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double,
                               std::string, Array, Object>;

  JsonValue() = default;
  JsonValue(std::nullptr_t) {}
  JsonValue(bool b) : v_(b) {}
  JsonValue(std::uint64_t n) : v_(n) {}
  JsonValue(std::int64_t n) : v_(n) {}
  JsonValue(unsigned n) : v_(std::uint64_t{n}) {}
  JsonValue(int n) : v_(std::int64_t{n}) {}
  JsonValue(double d) : v_(d) {}
  JsonValue(std::string s) : v_(std::move(s)) {}
  JsonValue(std::string_view s) : v_(std::string(s)) {}
  JsonValue(const char* s) : v_(std::string(s)) {}
  JsonValue(Array a) : v_(std::move(a)) {}
  JsonValue(Object o) : v_(std::move(o)) {}

  bool is_null() const { return std::holds_alternative<std::monostate>(v_); }
  bool is_bool() const { return std::holds_alternative<bool>(v_); }
  bool is_u64() const { return std::holds_alternative<std::uint64_t>(v_); }
  bool is_i64() const { return std::holds_alternative<std::int64_t>(v_); }
  bool is_double() const { return std::holds_alternative<double>(v_); }
  bool is_number() const { return is_u64() || is_i64() || is_double(); }
  bool is_string() const { return std::holds_alternative<std::string>(v_); }
  bool is_array() const { return std::holds_alternative<Array>(v_); }
  bool is_object() const { return std::holds_alternative<Object>(v_); }

  bool as_bool() const { return std::get<bool>(v_); }
  std::uint64_t as_u64() const { return std::get<std::uint64_t>(v_); }
  std::int64_t as_i64() const { return std::get<std::int64_t>(v_); }
  double as_double() const { return std::get<double>(v_); }
  const std::string& as_string() const { return std::get<std::string>(v_); }
  std::string& as_string() { return std::get<std::string>(v_); }
  const Array& as_array() const { return std::get<Array>(v_); }
  Array& as_array() { return std::get<Array>(v_); }
  const Object& as_object() const { return std::get<Object>(v_); }
  Object& as_object() { return std::get<Object>(v_); }

  // Object member access; inserts (the value must be an object).
  JsonValue& operator[](std::string_view key);
  // The member, or nullptr when absent or when this is not an object.
  const JsonValue* find(std::string_view key) const;

  const Storage& storage() const { return v_; }
  bool operator==(const JsonValue& other) const = default;

 private:
  Storage v_;
};

// An empty object, the usual start of a result.
inline JsonValue object() { return JsonValue(Object{}); }

}  // namespace tovrel::json
