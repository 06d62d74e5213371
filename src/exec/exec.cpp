#include "exec/exec.h"

#include "base/output.h"
#include "base/overloaded.h"
#include "exec/operations.h"
#include "exec/stdin_data.h"

namespace tovrel::exec {

using base::Overloaded;

json::JsonValue handle_exec(ExecCommands command) {
  // Holds what is read from our standard input for the child; it is read before anything of
  // the operation starts, so before exec run's clock.
  base::InputBytes stdin_bytes;
  return std::visit(
      Overloaded{
          [&](RunArgs& a) -> json::JsonValue {
            run_command(a, resolve_stdin_data(a.stdin, a.stdin_pipe, stdin_bytes));
          },
          [&](SpawnArgs& a) {
            return spawn_detached(a, resolve_stdin_data(a.stdin, a.stdin_pipe, stdin_bytes));
          },
          [](KillArgs& a) { return kill_process(a.pid, a.grace); },
          [&](StreamArgs& a) -> json::JsonValue {
            base::exit_process(
                stream_command(a, resolve_stdin_data(a.stdin, a.stdin_pipe, stdin_bytes)));
          },
          [](StatusArgs& a) { return process_status(a.pid); },
      },
      command);
}

}  // namespace tovrel::exec
