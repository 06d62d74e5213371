#pragma once
// The Identity primitive: the records of `keypair`, `sign` and `verify`, and their handlers.

#include <string>
#include <variant>

#include "json/value.h"

namespace tovrel::identity {

struct GenerateArgs {
  std::string key_dir;
};
struct FingerprintArgs {
  std::string public_key;
};
struct BoxFingerprintArgs {
  std::string public_key;
};
using KeypairCommands = std::variant<GenerateArgs, FingerprintArgs, BoxFingerprintArgs>;

struct SignArgs {
  std::string key_dir;
  std::string hash;
};
struct VerifyArgs {
  std::string hash;
  std::string signature;
  std::string public_key;
};

json::JsonValue handle_keypair(KeypairCommands command);
json::JsonValue handle_sign(const std::string& key_dir, const std::string& hash);
json::JsonValue handle_verify(const std::string& hash, const std::string& signature,
                              const std::string& public_key);

}  // namespace tovrel::identity
