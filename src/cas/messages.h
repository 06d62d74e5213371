#pragma once
// Every text the cas commands answer with, spelled once. Steps are followed by ": " and their
// cause (base::with_cause); the lines written to standard error end with their newline.

#include <string_view>

namespace tovrel::cas::text {

// Standard error, for a digest that is rejected and an item that cannot be read.
inline constexpr std::string_view kInvalidHash = "invalid hash: expected 64 hex chars\n";
inline constexpr std::string_view kNotFound = "not found\n";

// Steps of cas store.
inline constexpr std::string_view kStdin = "stdin";
inline constexpr std::string_view kInvalidJson = "invalid JSON";
inline constexpr std::string_view kMkdir = "mkdir";
inline constexpr std::string_view kTmpfile = "tmpfile";
inline constexpr std::string_view kWrite = "write";
inline constexpr std::string_view kRename = "rename";

// The internal failure of a fetch whose item stops being readable after bytes went out.
inline constexpr std::string_view kReadingItemFailed = "failed reading the item";

}  // namespace tovrel::cas::text
