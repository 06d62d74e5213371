#pragma once
// Paths built from a directory and names, the one place that decides where a '/' goes.

#include <string>
#include <string_view>

namespace tovrel::base {

// Appends `name` to `path` with one '/' between, none when `path` is empty or already ends in
// '/'. Nothing is normalised: "a//" + "b" is "a//b", "/" + "b" is "/b".
inline void append_path(std::string& path, std::string_view name) {
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
}

// `name` in `dir`, joined as append_path does: the name alone when `dir` is empty.
inline std::string join_path(std::string_view dir, std::string_view name) {
  std::string out;
  out.reserve(dir.size() + 1 + name.size());
  out += dir;
  append_path(out, name);
  return out;
}

}  // namespace tovrel::base
