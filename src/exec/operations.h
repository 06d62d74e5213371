#pragma once
// The five exec operations, each callable on its own (handle_exec dispatches to them).

#include <cstdint>
#include <optional>
#include <string>

#include "exec/exec.h"
#include "json/value.h"

namespace tovrel::exec {

// Runs the child to its end under `timeout` seconds and captures both output streams:
// {"duration_ms","return_code","stderr","stdout","success"}. Never fails: every outcome is a
// result. A timeout that is no duration is refused before anything starts.
json::JsonValue run_command(const ChildArgs& args, std::optional<std::string> stdin_data);

// Exit statuses of exec stream besides the child's own.
inline constexpr int kExitSignaled = 1;
inline constexpr int kExitTimedOut = 124;
inline constexpr int kExitStartFailed = 125;

// Runs the child passing its output through to our standard output and error; returns the
// status the process should exit with. Messages go to standard error after the child's
// output.
int stream_command(const ChildArgs& args, std::optional<std::string> stdin_data);

// Starts a detached child in a session of its own: {"pid","success"} or {"error","success"}.
json::JsonValue spawn_detached(const SpawnArgs& args, std::optional<std::string> stdin_data);

// SIGTERM, up to `grace` seconds probed every 100 ms, then SIGKILL.
json::JsonValue kill_process(std::uint32_t pid, double grace);
// {"alive","pid"}.
json::JsonValue process_status(std::uint32_t pid);

// The probe count of a grace period: ceil(grace / 0.1), saturated to 0..4294967295.
std::uint32_t grace_ticks(double grace);

}  // namespace tovrel::exec
