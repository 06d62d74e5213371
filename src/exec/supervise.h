#pragma once
// The steps exec run and exec stream share once their child is started.

#include <optional>
#include <string>

#include "exec/process.h"
#include "exec/pump.h"
#include "exec/wait.h"

namespace tovrel::exec {

// Delivers the stdin data to the child and closes its input: what the pipe takes at once is
// written here, the rest by an I/O thread, so a child that writes much before it reads can
// never hold us (or itself) up. Nothing to do when `data` is absent.
void write_child_stdin(ChildProcess& child, std::optional<std::string> data, IoThreads& io);

// Starts the timer, waits for the child, and on expiry kills and reaps it. The timer thread
// is detached: it never delays the end of the process.
WaitOutcome supervise(ChildProcess& child, TimeoutDuration duration);

}  // namespace tovrel::exec
