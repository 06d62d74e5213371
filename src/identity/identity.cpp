#include "identity/identity.h"

#include "base/output.h"

namespace tovrel::identity {

json::JsonValue handle_keypair(KeypairCommands) {
  base::internal_failure("the keypair commands are not available yet");
}
json::JsonValue handle_sign(const std::string&, const std::string&) {
  base::internal_failure("the sign command is not available yet");
}
json::JsonValue handle_verify(const std::string&, const std::string&, const std::string&) {
  base::internal_failure("the verify command is not available yet");
}

}  // namespace tovrel::identity
