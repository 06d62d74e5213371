// exec run: one child to its end under a timeout, both output streams captured.

#include <time.h>

#include <functional>
#include <memory>

#include "base/utf8.h"
#include "exec/child_run.h"
#include "exec/operations.h"
#include "exec/supervise.h"

namespace tovrel::exec {

namespace {

constexpr std::size_t kCaptureChunk = 65536;

timespec monotonic_now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts;
}

double elapsed_ms(const timespec& start, const timespec& end) {
  std::int64_t s = end.tv_sec - start.tv_sec;
  std::int64_t n = end.tv_nsec - start.tv_nsec;
  if (n < 0) {
    n += 1'000'000'000;
    --s;
  }
  if (s < 0) return 0.0;
  return (static_cast<double>(s) + static_cast<double>(n) / 1e9) * 1000.0;
}

json::JsonValue run_result(const timespec& start, int return_code, std::string stderr_text,
                           std::string stdout_text, bool success) {
  json::JsonValue result = json::object();
  result["return_code"] = return_code;
  result["stderr"] = std::move(stderr_text);
  result["stdout"] = std::move(stdout_text);
  result["success"] = success;
  // Read last, after every other value is made.
  result["duration_ms"] = elapsed_ms(start, monotonic_now());
  return result;
}

// The body of a capture thread: the pipe to its end into `into`, which the caller reads only
// after the thread has finished.
std::function<void(const StopEvent&)> capture_pipe(Fd pipe, std::string* into) {
  return [pipe = std::make_shared<Fd>(std::move(pipe)), into](const StopEvent& stop) {
    pump_pipe(std::move(*pipe), stop, kCaptureChunk,
              [into](std::string_view chunk) { into->append(chunk); });
  };
}

}  // namespace

json::JsonValue run_command(const ChildArgs& args, std::optional<std::string> stdin_data) {
  const timespec start = monotonic_now();
  // Refused before anything starts: no child is left to a timeout that cannot be kept.
  const std::optional<TimeoutDuration> duration = timeout_duration(args.timeout);
  if (!duration) return run_result(start, -1, invalid_timeout_message(args.timeout), "", false);

  ProcessCommand command = child_command(args, stdin_data.has_value());
  auto spawned = command_spawn(command);
  if (auto* error = std::get_if<SpawnError>(&spawned)) {
    return run_result(start, -1, spawn_failure_text(error->errnum), "", false);
  }
  ChildProcess& child = std::get<ChildProcess>(spawned);

  // The readers start before the stdin data goes out, so neither can wait on the other.
  std::string out_bytes, err_bytes;
  IoThreads io;
  io.start(capture_pipe(std::move(child.stdout_pipe), &out_bytes));
  io.start(capture_pipe(std::move(child.stderr_pipe), &err_bytes));
  write_child_stdin(child, std::move(stdin_data), io);

  const WaitOutcome outcome = supervise(child, *duration);
  io.finish(kPipeDrainGrace);

  if (const auto* exited = std::get_if<ChildExited>(&outcome)) {
    const std::optional<int> code = exit_code(exited->status);
    return run_result(start, code.value_or(-1), base::utf8_lossy(err_bytes),
                      base::utf8_lossy(out_bytes), code == 0);
  }
  if (std::holds_alternative<TimeoutExpired>(outcome)) {
    return run_result(start, -1, timed_out_text(args.timeout) + base::utf8_lossy(err_bytes),
                      base::utf8_lossy(out_bytes), false);
  }
  return run_result(start, -1, wait_failure_text(std::get<WaitError>(outcome).errnum), "", false);
}

}  // namespace tovrel::exec
