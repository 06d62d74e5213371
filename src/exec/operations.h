#pragma once
// The five exec operations, each callable on its own (handle_exec dispatches to them).

#include <cstdint>
#include <optional>
#include <string_view>

#include "exec/exec.h"
#include "json/value.h"

namespace tovrel::exec {

// Runs the child to its end under its timeout, captures both output streams, prints the
// result line {"duration_ms","return_code","stderr","stdout","success"} and ends the process
// with status 0 (101 when the line cannot be printed). Every outcome of the run is a result.
[[noreturn]] void run_command(const ChildArgs& args, std::optional<std::string_view> stdin_data);

// Exit statuses of exec stream besides the child's own.
inline constexpr int kExitSignaled = 1;
inline constexpr int kExitTimedOut = 124;
inline constexpr int kExitStartFailed = 125;

// Runs the child passing its output through to our standard output and error; returns the
// status the process should exit with. Messages go to standard error after the child's
// output.
int stream_command(const ChildArgs& args, std::optional<std::string_view> stdin_data);

// Starts a detached child in a session of its own: {"pid","success"} or {"error","success"}.
// The stdin data reaches the child whole even when it reads it after we have ended.
json::JsonValue spawn_detached(const SpawnArgs& args, std::optional<std::string_view> stdin_data);

// SIGTERM, up to `grace` seconds probed every 100 ms, then SIGKILL.
json::JsonValue kill_process(std::uint32_t pid, double grace);
// {"alive","pid"}.
json::JsonValue process_status(std::uint32_t pid);

// The probe count of a grace period: ceil(grace / 0.1), saturated to 0..4294967295.
std::uint32_t grace_ticks(double grace);

}  // namespace tovrel::exec
