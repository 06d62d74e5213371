#pragma once
// Process start-up, before the front end runs.

namespace tovrel::cli {

// Standard descriptors 0-2 that are closed are reopened on /dev/null (read-write), so nothing
// opened later lands on a standard stream by accident.
void reopen_closed_standard_descriptors();

// A stack overflow of the main thread is caught on an alternate signal stack, reported on
// standard error as "tovrel: stack overflow" and ends the process with abort(). Other faults
// keep their default action, and a SIGSEGV or SIGBUS sent by a process (not raised by a fault)
// ends the process as its default action would.
void install_stack_overflow_handler();

// An allocation that cannot be met (operator new) ends the process as an internal failure,
// status 101 with one line on standard error, instead of an uncaught exception's abort.
void install_out_of_memory_handler();

// All of start-up: the three above; SIGPIPE ignored so that a write to a closed pipe fails
// with EPIPE instead of ending the process, and SIGXFSZ ignored so that a write past the file
// size limit (ulimit -f) fails with EFBIG and is answered like any other failed write. A child
// we start gets both back at their default action.
void start_up();

}  // namespace tovrel::cli
