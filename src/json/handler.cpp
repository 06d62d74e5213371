// Between values and parts: the builder of values, and the walk of a value.

#include "json/handler.h"

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/overloaded.h"

namespace tovrel::json {

void ValueBuilder::add(JsonValue value) {
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

void ValueBuilder::close() {
  JsonValue done = std::move(open_.back().value);
  open_.pop_back();
  add(std::move(done));
}

void walk(const JsonValue& value, Handler& handler) {
  std::visit(base::Overloaded{
                 [&](std::monostate) { handler.null(); },
                 [&](bool b) { handler.boolean(b); },
                 [&](std::uint64_t n) { handler.u64(n); },
                 [&](std::int64_t n) { handler.i64(n); },
                 [&](double d) { handler.f64(d); },
                 [&](const std::string& s) { handler.string(s); },
                 [&](const Array& a) {
                   handler.begin_array();
                   for (const JsonValue& element : a) walk(element, handler);
                   handler.end_array();
                 },
                 [&](const Object& o) {
                   handler.begin_object();
                   for (const auto& [key, member] : o) {
                     handler.key(key);
                     walk(member, handler);
                   }
                   handler.end_object();
                 },
             },
             value.storage());
}

}  // namespace tovrel::json
