#pragma once
// The program's entry after start-up: parse, decode, dispatch, print.

#include "cli/commands.h"
#include "json/value.h"

namespace tovrel::cli {

// Calls the one handler that belongs to the command and returns its result.
json::JsonValue dispatch_command(Commands command);

// Writes the result's compact text and a newline to standard output as one unit; a failed
// write is an internal failure (status 101).
void print_result(const json::JsonValue& result);

// The whole run of one invocation; returns the exit status (0) when nothing ended it earlier.
int run(int argc, char** argv);

}  // namespace tovrel::cli
