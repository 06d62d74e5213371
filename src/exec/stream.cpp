// exec stream: one child under a timeout, its output passed through as it comes.

#include <array>
#include <memory>

#include "base/os_error.h"
#include "base/output.h"
#include "exec/child_run.h"
#include "exec/forwarders.h"
#include "exec/messages.h"
#include "exec/operations.h"
#include "exec/signal_relay.h"
#include "exec/wait.h"

namespace tovrel::exec {

namespace {

// A forwarder holds at most this much of the child's output: every read is passed on at
// once, so a chunk never waits for more to come, and the memory of a stream of any length
// stays this small.
constexpr std::size_t kForwardChunkSize = 8192;

// Each chunk goes out whole and at once: the writer's write, then its flush for what follows
// the last line break. Failed writes are ignored: the child's output is drained to its end
// regardless.
void forward_stdout(std::string_view chunk) {
  base::LineWriter& out = base::stdout_writer();
  if (!out.write(chunk)) (void)out.flush();
}

void forward_stderr(std::string_view chunk) { (void)base::stderr_write(chunk); }

// The body of a forwarder thread, which owns `pipe` from its start.
std::function<void(const StopEvent&)> forwarder(Fd pipe, void (*sink)(std::string_view)) {
  return [pipe = std::make_shared<Fd>(std::move(pipe)), sink](const StopEvent& stop) {
    std::array<char, kForwardChunkSize> buffer;
    forward_pipe(std::move(*pipe), stop, buffer, sink);
  };
}

// A message of our own that cannot be written would leave the caller with a bare status that
// looks like the child's; it ends the process as an internal failure instead.
void write_message(std::string_view text) {
  if (auto err = base::stderr_write(text)) {
    base::printing_failed(*err, 2);
  }
}

}  // namespace

int stream_command(const ChildArgs& args, std::optional<std::string_view> stdin_data) {
  const std::optional<TimeoutDuration> duration = timeout_duration(args.timeout);
  if (!duration) {
    write_message(invalid_timeout_message(args.timeout) + "\n");
    return kExitStartFailed;
  }
  ProcessCommand command = child_command(args, stdin_data.has_value());
  // After the entries, so it wins over any value they gave.
  command_env_set(command, "PYTHONUNBUFFERED", "1");
  SignalRelay relay;
  auto spawned = command_spawn(command);
  if (const auto* error = std::get_if<SpawnError>(&spawned)) {
    relay.finish();
    write_message(spawn_failure_text(error->errnum) + "\n");
    return kExitStartFailed;
  }
  ChildProcess& child = std::get<ChildProcess>(spawned);
  // Before the forwarders start: they hold the signals back too, and a failure to start one
  // ends the child with us.
  relay.hold();
  ChildWatch watch(child, *duration, &relay);

  IoThreads io;
  io.start(forwarder(std::move(child.stderr_pipe), forward_stderr));
  io.start(forwarder(std::move(child.stdout_pipe), forward_stdout));
  if (stdin_data) watch.feed(std::move(child.stdin_pipe), *stdin_data);
  const WaitOutcome outcome = watch.wait();
  relay.finish();
  io.finish(kPipeDrainGrace);

  // Messages follow all of the child's output: the forwarders are joined by now.
  if (const auto* exited = std::get_if<ChildExited>(&outcome)) {
    return exit_code(exited->status).value_or(kExitSignaled);
  }
  if (std::holds_alternative<TimeoutExpired>(outcome)) {
    write_message(timed_out_text(args.timeout));
    return kExitTimedOut;
  }
  write_message(wait_failure_text(std::get<WaitError>(outcome).errnum) + "\n");
  return kExitStartFailed;
}

}  // namespace tovrel::exec
