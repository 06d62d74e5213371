#pragma once
// Runs an `exec` command line and captures status, stdout and stderr exactly.
//
// With the command-line parser in the built binary, the binary runs it. Without it, a forked
// copy of this test process decodes the few exec options itself and runs the exec handler,
// printing its result as the binary would; the observable bytes are the same.

#include <optional>
#include <string>
#include <vector>

#include "support/run.h"

namespace tovrel::exec::testing {

struct CliOptions {
  std::optional<std::string> stdin_data;  // none: stdin is the null device
  bool stdout_reader_gone = false;        // our stdout is a pipe whose reader has closed
  double timeout_seconds = 60;
};

test::RunResult exec_cli(const std::vector<std::string>& args, const CliOptions& options = {});

// True when the built binary parses exec command lines.
bool binary_has_parser();

}  // namespace tovrel::exec::testing
