#pragma once
// Runs `exec` command lines on the built binary in ways that tests/support/run.h does not:
// without waiting for them, and with non-blocking standard streams.

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

// Runs a command line whose standard output, and standard input when `stdin_data` is given,
// is a pipe with O_NONBLOCK set on its file description, as event-loop callers hand them over.
// Each pipe holds one page, and both are served a little at a time, so that the command's
// reads and writes meet an empty or full pipe again and again. Standard error is a plain pipe.
test::RunResult run_with_nonblocking_pipes(const std::vector<std::string>& args,
                                           const std::optional<std::string>& stdin_data);

}  // namespace tovrel::exec::testing
