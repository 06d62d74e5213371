#pragma once
// What exec run and exec stream share: the child they describe, and their messages, each
// made here only.

#include <string>

#include "exec/exec.h"
#include "exec/process.h"

namespace tovrel::exec {

// The child of `args`: program, arguments, --env entries and working directory; standard input
// a pipe when there is stdin data (else the null device), standard output and error pipes.
ProcessCommand child_command(const ChildArgs& args, bool with_stdin_data);

// "Failed to spawn: {error}", also the start failure of exec spawn.
std::string spawn_failure_text(int errnum);
// "Wait failed: {error}".
std::string wait_failure_text(int errnum);
// "Command timed out after {timeout} seconds\n", the timeout as its Decimal text.
std::string timed_out_text(double timeout);

}  // namespace tovrel::exec
