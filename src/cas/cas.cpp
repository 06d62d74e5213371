#include "cas/cas.h"

#include "base/output.h"

namespace tovrel::cas {

json::JsonValue handle_cas(CasCommands) {
  base::internal_failure("the cas commands are not available yet");
}

}  // namespace tovrel::cas
