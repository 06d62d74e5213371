#pragma once
// Every message `envelope open` can answer with, in the order of the steps that produce them.

#include <cstddef>
#include <string>
#include <string_view>

#include "envelope/env_map.h"

namespace tovrel::envelope::msg {

inline std::string cat(std::string_view a, std::string_view b) {
  std::string s(a);
  s += b;
  return s;
}

inline std::string read_stdin(std::string_view cause) { return cat("read stdin: ", cause); }
inline std::string parse_envelope(std::string_view cause) {
  return cat("parse envelope JSON: ", cause);
}
// `version` is "None" or "Some(n)".
inline std::string unsupported_version(std::string_view version) {
  return cat("unsupported envelope version: ", version);
}
inline std::string missing_field(std::string_view field) {
  return cat("envelope missing required field: ", field);
}
// `kind` is "None" or "Some(\"...\")".
inline std::string unexpected_kind(std::string_view kind) {
  return cat("unexpected envelope kind: ", kind);
}
inline std::string read_box_key(std::string_view cause) { return cat("read box key: ", cause); }
inline std::string decode_box_key(std::string_view cause) { return cat("decode box key: ", cause); }
inline constexpr std::string_view kBoxKeySize = "box key must be 32 bytes";
inline std::string decode_ephemeral(std::string_view cause) {
  return cat("decode ephemeral key: ", cause);
}
inline constexpr std::string_view kEphemeralKeySize = "ephemeral public key must be 32 bytes";
inline std::string decode_ciphertext(std::string_view cause) {
  return cat("decode ciphertext: ", cause);
}
// The decryption error has a single text, whatever went wrong.
inline constexpr std::string_view kAeadError = "aead::Error";
inline std::string decryption_failed() { return cat("decryption failed: ", kAeadError); }
inline std::string payload_not_json(std::string_view cause) {
  return cat("decrypted payload is not valid JSON: ", cause);
}
inline constexpr std::string_view kPayloadNotObject = "decrypted payload is not a JSON object";
inline std::string validation_failed(std::string_view joined) {
  return cat("env map validation failed: ", joined);
}
inline constexpr std::string_view kProblemSeparator = "; ";

inline std::string base64url_decode(std::string_view cause) {
  return cat("base64url decode: ", cause);
}

// Environment map validation.
inline std::string too_many_variables(std::size_t count) {
  return "too many variables: " + std::to_string(count) + " exceeds limit of " +
         std::to_string(MAX_ENV_VARS);
}
inline std::string value_not_string(std::string_view name) {
  return "variable value for " + std::string(name) + " is not a string";
}
inline std::string value_has_nul(std::string_view name) {
  return "variable " + std::string(name) + " contains NUL byte";
}
inline std::string value_too_large(std::string_view name, std::size_t bytes) {
  return "variable " + std::string(name) + " value too large: " + std::to_string(bytes) +
         " bytes exceeds limit of " + std::to_string(MAX_ENV_VALUE_BYTES);
}
inline std::string total_too_large(std::size_t bytes) {
  return "total env size " + std::to_string(bytes) + " bytes exceeds limit of " +
         std::to_string(MAX_ENV_TOTAL_BYTES);
}

}  // namespace tovrel::envelope::msg
