#pragma once
// The name under which the program was started, as help and usage lines show it.

#include <optional>
#include <string>
#include <string_view>

namespace tovrel::cli {

// The last component of `argv0` taken as a path (trailing slashes and "." components
// skipped) when it is a normal name and valid UTF-8; otherwise `fallback`. A missing argv0
// also gives `fallback`.
std::string usage_name(std::optional<std::string_view> argv0, std::string_view fallback);

}  // namespace tovrel::cli
