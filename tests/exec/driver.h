#pragma once
// Runs `exec` command lines on the built binary in ways that tests/support/run.h does not:
// without waiting for them.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/run.h"

namespace tovrel::exec::testing {

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
