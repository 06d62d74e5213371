#pragma once
// The key directory on disk: exclusive creation of key files in it, fingerprints.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/fd.h"
#include "base/result.h"

namespace tovrel::identity {

inline constexpr std::string_view kPrivateKeyFile = "private_key.pem";
inline constexpr std::string_view kPublicKeyFile = "public_key.pem";
inline constexpr std::string_view kBoxKeyFile = "box_key.pem";
inline constexpr std::string_view kBoxPubFile = "box_pub.pem";

// The key directory, resolved once: every file is made in the directory opened, even when its
// path names another one afterwards.
class KeyDirectory {
 public:
  // Creates `dir` and any missing parents (mode 0777 before the umask; an existing directory,
  // also through a symbolic link, and an empty `dir`, the working directory, are fine), opens
  // it and sets its mode to 0700 (a failure there is of no consequence). Error: "mkdir: {}".
  // A directory that cannot be opened fails each write() as its creation would.
  static base::Result<KeyDirectory> open(const std::string& dir);

  // A new file `name` holding exactly `content`: O_EXCL creation with `mode` (the umask
  // applies, nothing is changed afterwards). Errors name the file as `dir` joined with `name`:
  // "create {path}: {}", "write {path}: {}". A file whose writing failed is left as it is.
  base::Status write(std::string_view name, std::string_view content, std::uint32_t mode) const;

 private:
  KeyDirectory(std::string path, base::Fd fd, int open_error)
      : path_(std::move(path)), fd_(std::move(fd)), open_error_(open_error) {}

  std::string path_;
  base::Fd fd_;
  int open_error_ = 0;  // the errno of opening the directory, when fd_ is not valid
};

// The first 16 lowercase hex characters of the SHA-256 of `bytes`.
std::string key_fingerprint(std::string_view bytes);

}  // namespace tovrel::identity
