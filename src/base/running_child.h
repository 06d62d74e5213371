#pragma once
// The child this process runs and waits for (exec run, exec stream), known process-wide: an
// end of the process that does not pass through the child's owner (an internal failure, out
// of memory, from any thread) ends the child first, so that it never outlives us.

#include <sys/types.h>

namespace tovrel::base {

// Records the child of `pid`, with its pidfd (-1 without one), replacing any other.
void set_running_child(pid_t pid, int pidfd) noexcept;

// Forgets the child. Call it as soon as the child is reaped, before its pid can be reused.
void clear_running_child() noexcept;

// Sends SIGKILL to the recorded child (through its pidfd where there is one) and reaps it;
// nothing when none is recorded. Allocates nothing and makes system calls only, so it may
// run wherever the process ends.
void end_running_child() noexcept;

}  // namespace tovrel::base
