#include "exec/child_run.h"

namespace tovrel::exec {

ProcessCommand child_command(const ChildArgs& args, bool with_stdin_data) {
  ProcessCommand command = command_new(args.cmd);
  command_add_args(command, args.args);
  apply_env_entries(command, args.envs);
  if (args.cwd) command_set_cwd(command, *args.cwd);
  if (with_stdin_data) command.stdin_choice = Pipe{};
  command.stdout_choice = Pipe{};
  command.stderr_choice = Pipe{};
  return command;
}

}  // namespace tovrel::exec
