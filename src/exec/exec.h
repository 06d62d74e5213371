#pragma once
// The Execute primitive: the records of the `exec` group and its handler.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "json/value.h"

namespace tovrel::exec {

// The one record of `exec run` and `exec stream`, which declare the same options: a child run
// to its end under a timeout. It flows unchanged from the decoder to the launch.
struct ChildArgs {
  std::string cmd;
  std::vector<std::string> args;
  std::optional<std::string> cwd;
  std::optional<std::string> stdin;
  bool stdin_pipe = false;
  std::vector<std::string> envs;
  double timeout = 300.0;
};

// The two names of that record, distinct types only so that the variant tells them apart.
struct RunArgs : ChildArgs {};
struct StreamArgs : ChildArgs {};

struct SpawnArgs {
  std::string cmd;
  std::vector<std::string> args;
  std::optional<std::string> log;
  std::vector<std::string> envs;
  std::optional<std::string> stdin;
  bool stdin_pipe = false;
};

struct KillArgs {
  std::uint32_t pid = 0;
  double grace = 3.0;
};

struct StatusArgs {
  std::uint32_t pid = 0;
};

using ExecCommands = std::variant<RunArgs, SpawnArgs, KillArgs, StreamArgs, StatusArgs>;

// Runs one exec command and returns its result. Does not return after `exec run`, which
// prints its result line itself (it can be far larger than anything worth building whole), nor
// after `exec stream`, which ends the process with its child's status.
json::JsonValue handle_exec(ExecCommands command);

}  // namespace tovrel::exec
