#pragma once
// The tovrel command tree: every command, option, value parser and default that the command
// line accepts, declared as data for the parser engine.

#include <string_view>

#include "base/result.h"
#include "cli/engine.h"

namespace tovrel::cli {

// The root command `tovrel` with the whole tree.
Command build_cli();

// Adds exec, cas, sign, verify, keypair, envelope and time, in this order.
Command add_subcommands(Command root);

// Adds run, spawn, kill, stream and status to the exec group.
Command add_exec_subcommands(Command exec);

// The process-wide default texts, each made once ("300", "300", "3").
void init_run_timeout_default();
void init_stream_timeout_default();
void init_kill_grace_default();

// Value parsers of the number options; the error text is the reason shown to the user.
base::Result<Value> parse_seconds(std::string_view text);  // --timeout, --grace (double)
base::Result<Value> parse_pid(std::string_view text);      // --pid (unsigned 32-bit)
base::Result<Value> parse_ms(std::string_view text);       // --ms (unsigned 64-bit)

}  // namespace tovrel::cli
