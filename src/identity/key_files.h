#pragma once
// The key directory on disk: file paths, exclusive creation of key files, fingerprints.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tovrel::identity {

inline constexpr std::string_view kPrivateKeyFile = "private_key.pem";
inline constexpr std::string_view kPublicKeyFile = "public_key.pem";
inline constexpr std::string_view kBoxKeyFile = "box_key.pem";
inline constexpr std::string_view kBoxPubFile = "box_pub.pem";

// Creates `dir` and any missing parents (mode 0777 before the umask); an existing directory,
// also through a symbolic link, and an empty `dir` are success. Error: "mkdir: {}".
base::Status make_key_directory(const std::string& dir);

// A new file at `path` holding exactly `content`: O_EXCL creation with `mode` (the umask
// applies, nothing is changed afterwards). Errors: "create {path}: {}", "write {path}: {}".
// A file whose writing failed is left as it is.
base::Status write_key_file(const std::string& path, std::string_view content, std::uint32_t mode);

// The first 16 lowercase hex characters of the SHA-256 of `bytes`.
std::string key_fingerprint(std::string_view bytes);

}  // namespace tovrel::identity
