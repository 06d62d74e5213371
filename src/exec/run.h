#pragma once
// exec run: one child to its end under a timeout with both output streams captured, and its
// result line, written from the captured bytes as they are decoded and escaped.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/io.h"
#include "exec/exec.h"

namespace tovrel::exec {

// What the result line says. The captured bytes are views into the caller's buffers.
struct RunReport {
  double duration_ms = 0;
  int return_code = -1;
  std::string message;            // `stderr` begins with it (or is only it)
  std::string_view stderr_bytes;  // the child's, after the message; empty when discarded
  std::string_view stdout_bytes;
  bool success = false;
};

// Runs the child of `args` on the calling thread (no thread is started), feeding it the stdin
// data; its output is captured into `out` and `err`. Never fails: every outcome is a report.
// A timeout that is no duration is refused before anything starts.
RunReport run_child(const ChildArgs& args, std::optional<std::string_view> stdin_data,
                    base::InputBytes& out, base::InputBytes& err);

// Writes the report as its compact JSON line {"duration_ms","return_code","stderr","stdout",
// "success"} and a newline, handing `sink` pieces of at most a few tens of KiB: the captured
// bytes are decoded (one U+FFFD for each maximal ill-formed subpart) and escaped as they go,
// never copied whole.
using LineSink = std::function<void(std::string_view piece)>;
void write_run_result(const RunReport& report, const LineSink& sink);

}  // namespace tovrel::exec
