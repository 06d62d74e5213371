#pragma once
// Small helpers shared by the exec tests.

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "driver.h"

namespace tovrel::exec::testing {

// An exec run result line without its `duration_ms` member: {"return_code":...}.
// (No std::regex: it recurses per character and overflows the stack on large outputs.)
inline constexpr std::string_view kDurationKey = "{\"duration_ms\":";

inline std::string without_duration(const std::string& line) {
  const std::size_t comma = line.find(',');
  if (line.rfind(kDurationKey, 0) != 0 || comma == std::string::npos || line.empty() ||
      line.back() != '\n') {
    return "unexpected: " + line;
  }
  const std::string number = line.substr(kDurationKey.size(), comma - kDurationKey.size());
  if (number.find_first_not_of("0123456789.e+-") != std::string::npos) return "unexpected: " + line;
  return "{" + line.substr(comma + 1, line.size() - comma - 2);
}

inline double duration_of(const std::string& line) {
  if (line.rfind(kDurationKey, 0) != 0) return -1;
  return std::stod(line.substr(kDurationKey.size()));
}

// The JSON text of a string value, escaped as the compact writer does for these tests.
inline std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The result of exec run without its duration.
inline std::string run_json(int code, const std::string& err, const std::string& out, bool ok) {
  return "{\"return_code\":" + std::to_string(code) + ",\"stderr\":" + quoted(err) +
         ",\"stdout\":" + quoted(out) + ",\"success\":" + (ok ? "true" : "false") + "}";
}

inline std::vector<std::string> sh(const std::string& script) {
  return {"exec", "run", "--cmd", "sh", "--arg", "-c", "--arg", script};
}

inline double monotonic_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace tovrel::exec::testing
