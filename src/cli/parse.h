#pragma once
// The parse hand-over of the front end: build the tree, parse the command line, show help or
// usage errors, decode.

#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"

namespace tovrel::cli {

// Builds the tree, parses argv and decodes it. Does not return on help (status 0), on a
// command-line or decoding error (status 2) or on a type mismatch (status 101).
Cli parse_command_line(int argc, char** argv);

// The name under which the program was started, as help and usage lines show it: the last
// component of `argv0` taken as a path (trailing slashes and "." components skipped) when it
// is a normal name and valid UTF-8; otherwise `fallback`. A missing argv0 also gives
// `fallback`.
std::string usage_name(std::optional<std::string_view> argv0, std::string_view fallback);

}  // namespace tovrel::cli
