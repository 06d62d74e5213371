#pragma once
// Runs one cas command in a forked child, as the front end would: the result printed as a
// compact JSON line, or whatever the handler itself wrote before it ended the process.

#include <optional>
#include <string>
#include <vector>

#include "cas/cas.h"

namespace tovrel::cas::test {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

struct ChildOptions {
  std::optional<std::string> stdin_data;  // none: /dev/null
  std::optional<std::string> stdin_path;  // opened read-only as standard input instead
  int stdin_fd = -1;  // used as standard input instead; the caller keeps and closes its own
  std::optional<std::string> cwd;
  bool stdout_reader_gone = false;               // standard output is a pipe nobody reads
  std::optional<unsigned long> file_size_limit;  // RLIMIT_FSIZE in bytes (SIGXFSZ ignored)
};

Outcome run_cas(const CasCommands& command, const ChildOptions& options = {});

// Starts one child per command; all of them wait at a common barrier and then run at once.
std::vector<Outcome> run_cas_together(const std::vector<CasCommands>& commands,
                                      const std::vector<std::string>& stdins);

// Every non-directory entry below `root`, relative and sorted.
std::vector<std::string> files_under(const std::string& root);

}  // namespace tovrel::cas::test
