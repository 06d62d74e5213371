#pragma once
// What exec run and exec stream share: the child they describe.

#include "exec/exec.h"
#include "exec/process.h"

namespace tovrel::exec {

// The child of `args`: program, arguments, --env entries and working directory; standard input
// a pipe when there is stdin data (else the null device), standard output and error pipes.
ProcessCommand child_command(const ChildArgs& args, bool with_stdin_data);

}  // namespace tovrel::exec
