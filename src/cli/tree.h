#pragma once
// The tovrel command tree: every command, option, value parser and default that the command
// line accepts, declared as data for the parser engine.

#include <string_view>

#include "base/result.h"
#include "cli/engine.h"

namespace tovrel::cli {

// The root command `tovrel` with the whole tree. The tree is a table of constants, so this
// only hands out the root's view of it.
Command build_cli();

// Value parsers of the number options; the error text is the reason shown to the user.
base::Result<Value> parse_seconds(std::string_view text);  // --timeout, --grace (double)
base::Result<Value> parse_pid(std::string_view text);      // --pid (unsigned 32-bit)
base::Result<Value> parse_ms(std::string_view text);       // --ms (unsigned 64-bit)

}  // namespace tovrel::cli
