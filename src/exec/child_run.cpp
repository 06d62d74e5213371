#include "exec/child_run.h"

#include "base/decimal.h"
#include "base/os_error.h"
#include "exec/messages.h"

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

std::string spawn_failure_text(int errnum) {
  return base::with_cause(kFailedToSpawn, base::os_error_text(errnum));
}

std::string wait_failure_text(int errnum) {
  return base::with_cause(kWaitFailed, base::os_error_text(errnum));
}

std::string timed_out_text(double timeout) {
  std::string text(kTimedOutBefore);
  text += base::decimal_text(timeout);
  text += kTimedOutAfter;
  return text;
}

}  // namespace tovrel::exec
