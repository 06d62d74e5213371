#pragma once
// A value or the text of the error that prevented it. Error texts are already in the
// system's wording ("mkdir: ...", "read box key: ..."), so callers only pass them on.

#include <string>
#include <utility>
#include <variant>

namespace tovrel::base {

struct Error {
  std::string text;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}
  Result(Error error) : v_(std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const std::string& error() const { return std::get<1>(v_).text; }
  Error take_error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, Error> v_;
};

// For operations that yield nothing but may fail.
using Status = Result<std::monostate>;
inline Status ok_status() { return Status(std::monostate{}); }

}  // namespace tovrel::base
