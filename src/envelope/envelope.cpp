#include "envelope/envelope.h"

#include "base/output.h"

namespace tovrel::envelope {

json::JsonValue handle_envelope_open(const std::string&) {
  base::internal_failure("the envelope open command is not available yet");
}

}  // namespace tovrel::envelope
