#pragma once
// The store's layout and its one way of writing: items live at
// <root>/<objects|blobs>/<h[0..2]>/<h[2..4]>/<h><ext> and are published by a rename from a
// temporary sibling <h>.tmp.<pid>, so a reader sees no item or a whole one.

#include <string>
#include <string_view>

#include "base/result.h"

namespace tovrel::cas {

inline constexpr std::string_view kObjectsDir = "objects";
inline constexpr std::string_view kBlobsDir = "blobs";
inline constexpr std::string_view kObjectExtension = ".json";

// The content address: SHA-256 as 64 lowercase hexadecimal characters.
std::string sha256_hex(std::string_view bytes);

// root / dir / digest[0..2] / digest[2..4] / digest+extension. Each part is joined with one
// "/" unless the path so far is empty or already ends in "/"; nothing is normalised.
// `digest` has at least 4 characters.
std::string object_path(std::string_view root, std::string_view dir, std::string_view digest,
                        std::string_view extension);

// The temporary name for `path`: the extension of its last name replaced by "tmp.<pid>", or
// ".tmp.<pid>" appended to a name without one.
std::string temporary_path(std::string_view path, long pid);

// Creates the missing parent directories (0777 before the umask), writes `bytes` to the
// temporary sibling (0666 before the umask) and renames it onto `path`. Fails with
// "mkdir: {}", "tmpfile: {}", "write: {}" or "rename: {}"; after a failed write or rename the
// temporary file is gone. Nothing is synchronised to disk.
base::Status atomic_write(const std::string& path, std::string_view bytes);

}  // namespace tovrel::cas
