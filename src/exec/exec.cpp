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
            return run_command(a, resolve_stdin_data(a.stdin, a.stdin_pipe));
          },
          [](SpawnArgs& a) {
            return spawn_detached(a, resolve_stdin_data(a.stdin, a.stdin_pipe));
          },
          [](KillArgs& a) { return kill_process(a.pid, a.grace); },
          [](StreamArgs& a) -> json::JsonValue {
            base::exit_process(stream_command(a, resolve_stdin_data(a.stdin, a.stdin_pipe)));
          },
          [](StatusArgs& a) { return process_status(a.pid); },
      },
      command);
}

}  // namespace tovrel::exec
