#pragma once
// Runs an `exec` command line and captures status, stdout and stderr exactly.
//
// With the command-line parser in the built binary, the binary runs it. Without it, a forked
// copy of this test process decodes the few exec options itself and runs the exec handler,
// printing its result as the binary would; the observable bytes are the same.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/run.h"

namespace tovrel::exec::testing {

struct CliOptions {
  std::optional<std::string> stdin_data;  // none: stdin is the null device
  bool stdout_reader_gone = false;        // our stdout is a pipe whose reader has closed
  double timeout_seconds = 60;
};

test::RunResult exec_cli(const std::vector<std::string>& args, const CliOptions& options = {});

// Starts an exec command line without waiting: its stdout is the returned pipe end, its
// stdin and stderr the null device.
struct AsyncRun {
  pid_t pid;
  int stdout_fd;
};
AsyncRun start_exec_cli(const std::vector<std::string>& args);
// Waits for a started command line; its exit status, or -1 when a signal ended it.
int wait_exec_cli(const AsyncRun& run);

// True when the built binary parses exec command lines.
bool binary_has_parser();

}  // namespace tovrel::exec::testing
