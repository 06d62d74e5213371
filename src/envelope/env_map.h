#pragma once
// What an opened envelope may hand back: the limits on the decrypted environment map and
// the filter that decides which of its names reach the caller.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"

namespace tovrel::envelope {

inline constexpr std::size_t MAX_ENV_VARS = 256;
inline constexpr std::size_t MAX_ENV_VALUE_BYTES = 65536;
inline constexpr std::size_t MAX_ENV_TOTAL_BYTES = 1048576;

// Every problem of `map` (an object), in a fixed order: the count first, then each entry in
// name order (not a string; or NUL, then too large), then the total. Empty when it passes.
std::vector<std::string> validate_env_map(const json::Object& map);

// True when `name` is a plain identifier ([A-Za-z_][A-Za-z0-9_]*) that is neither one of the
// denied names nor begins with a denied prefix. Case-sensitive, no trimming.
bool is_safe_env_name(std::string_view name);

}  // namespace tovrel::envelope
