#include "json/value.h"

namespace tovrel::json {

JsonValue& JsonValue::operator[](std::string_view key) {
  Object& obj = as_object();
  auto it = obj.find(key);
  if (it == obj.end()) it = obj.emplace(std::string(key), JsonValue()).first;
  return it->second;
}

const JsonValue* JsonValue::find(std::string_view key) const {
  const Object* obj = std::get_if<Object>(&v_);
  if (!obj) return nullptr;
  auto it = obj->find(key);
  return it == obj->end() ? nullptr : &it->second;
}

}  // namespace tovrel::json
