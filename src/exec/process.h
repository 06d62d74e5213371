#pragma once
// Child launch: the description of a child (ProcessCommand), its start, and the handle of a
// started child (ChildProcess).
//
// Every descriptor opened here is close-on-exec, so a child receives ours only as its 0, 1
// and 2. The start is vfork-style: the child shares our memory until its exec, so everything
// it needs is built before, and on its side it makes system calls only (and runs the
// pre-exec hooks, which must do the same).

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/fd.h"

namespace tovrel::exec {

using base::Fd;

// Where one standard stream of a child leads.
struct NullDevice {};  // "/dev/null": read-only for stdin, write-only for stdout and stderr
struct Pipe {};        // a new pipe; the caller keeps the other end in ChildProcess
struct Descriptor {    // a descriptor of ours, owned by the ProcessCommand
  Fd fd;
};
using StdioChoice = std::variant<NullDevice, Pipe, Descriptor>;

// Runs in the child between the setting of its streams (and working directory) and the exec;
// returns 0 or an errno value, which stops the start. It runs on our memory, with every
// signal blocked: system calls only, no allocation, no lock.
using PreExecHook = int (*)();

struct ProcessCommand {
  std::string program;                               // also argument 0
  std::vector<std::string> arguments;                // the program first
  std::map<std::string, std::string> env_overrides;  // ordered by name (byte order)
  std::optional<std::string> working_directory;
  StdioChoice stdin_choice = NullDevice{};
  StdioChoice stdout_choice = NullDevice{};
  StdioChoice stderr_choice = NullDevice{};
  std::vector<PreExecHook> pre_exec_hooks;
};

// A started child. Discarding it closes the descriptors it still holds; it never signals or
// waits for the child.
struct ChildProcess {
  pid_t pid = 0;
  std::optional<int> wait_status;  // set once reaped
  Fd pidfd;                        // readable once the child has ended; invalid on old kernels
  Fd stdin_pipe;                   // write end of the child's stdin, when that is a Pipe
  Fd stdout_pipe;                  // read ends of its output pipes, when those are Pipes
  Fd stderr_pipe;
};

// Why a start failed: an errno value.
struct SpawnError {
  int errnum;
};

ProcessCommand command_new(std::string program);
void command_add_args(ProcessCommand& command, const std::vector<std::string>& args);
// Applies `--env` entries in order: split at the first '='; entries without '=' are skipped;
// a later entry for a name replaces an earlier one.
void apply_env_entries(ProcessCommand& command, const std::vector<std::string>& envs);
void command_env_set(ProcessCommand& command, std::string name, std::string value);
void command_set_cwd(ProcessCommand& command, std::string dir);

// Starts the child. The environment is ours unchanged when no override is set, otherwise
// rebuilt with the overrides and ordered by name. In the child: streams, working directory,
// SIGPIPE default, hooks, exec; a program without '/' is looked up on the PATH of the child's
// environment, after the change of directory. Any failure (ours or the child's before the
// exec succeeded) is returned as an errno value, and the child made for the attempt is
// reaped. The command's Descriptors stay owned by the command.
std::variant<ChildProcess, SpawnError> command_spawn(ProcessCommand& command);

// The environment entries the child of `command` receives, in the order handed to it.
std::vector<std::string> child_environment(const ProcessCommand& command);

}  // namespace tovrel::exec
