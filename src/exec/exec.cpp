#include "exec/exec.h"

#include "base/output.h"
#include "base/overloaded.h"
#include "exec/operations.h"
#include "exec/process.h"

namespace tovrel::exec {

using base::Overloaded;

json::JsonValue handle_exec(ExecCommands command) {
  return std::visit(
      Overloaded{
          [](RunArgs& a) {
            // Our standard input is read before the run's clock starts.
            auto data = resolve_stdin_data(a.stdin, a.stdin_pipe);
            return run_command(a.cmd, a.args, a.cwd, std::move(data), a.envs, a.timeout);
          },
          [](SpawnArgs& a) {
            auto data = resolve_stdin_data(a.stdin, a.stdin_pipe);
            return spawn_detached(a.cmd, a.args, a.log, a.envs, std::move(data));
          },
          [](KillArgs& a) { return kill_process(a.pid, a.grace); },
          [](StreamArgs& a) -> json::JsonValue {
            auto data = resolve_stdin_data(a.stdin, a.stdin_pipe);
            base::exit_process(
                stream_command(a.cmd, a.args, a.cwd, std::move(data), a.envs, a.timeout));
          },
          [](StatusArgs& a) { return process_status(a.pid); },
      },
      command);
}

}  // namespace tovrel::exec
