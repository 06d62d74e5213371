#include "exec/exec.h"

#include "base/output.h"

namespace tovrel::exec {

json::JsonValue handle_exec(ExecCommands) {
  base::internal_failure("the exec commands are not available yet");
}

}  // namespace tovrel::exec
