#pragma once
// Runs `exec` command lines on the built binary and captures status, stdout and stderr.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/run.h"

namespace tovrel::exec::testing {

struct CliOptions {
  std::optional<std::string> stdin_data;  // none: stdin is at end of file at once
  bool stdout_reader_gone = false;        // our stdout is a pipe whose reader has closed
  std::optional<std::string> stderr_path; // our stderr is this file (not captured)
  bool stderr_reader_gone = false;        // our stderr is a pipe whose reader has closed
  double timeout_seconds = 60;
};

test::RunResult exec_cli(const std::vector<std::string>& args, const CliOptions& options = {});

// Starts a command line without waiting: its stdout is the returned pipe end, its stdin and
// stderr the null device.
struct AsyncRun {
  pid_t pid;
  int stdout_fd;
};
AsyncRun start_exec_cli(const std::vector<std::string>& args);
// Waits for a started command line; its exit status, or -1 when a signal ended it.
int wait_exec_cli(const AsyncRun& run);

}  // namespace tovrel::exec::testing
