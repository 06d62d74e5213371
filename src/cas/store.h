#pragma once
// The store's layout and its one way of writing and reading items. Items live at
// <root>/<objects|blobs>/<h[0..2]>/<h[2..4]>/<h><ext>. An item is written whole into a
// temporary file that only its writer can reach, and then takes its name in one step, so a
// reader sees no item or a whole one; a writer that is killed leaves no partial item.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/fd.h"
#include "base/result.h"

namespace tovrel::cas {

inline constexpr std::string_view kObjectsDir = "objects";
inline constexpr std::string_view kBlobsDir = "blobs";
inline constexpr std::string_view kObjectExtension = ".json";

// root / dir: the folder of one kind of item. Each part is joined with one "/" unless the path
// so far is empty or already ends in "/"; nothing is normalised.
std::string kind_directory(std::string_view root, std::string_view dir);

// kind_directory / digest[0..2] / digest[2..4] / digest+extension, joined the same way.
// `digest` has at least 4 characters.
std::string object_path(std::string_view root, std::string_view dir, std::string_view digest,
                        std::string_view extension);

// The temporary name for `path`: the extension of its last name replaced by "tmp.<pid>", or
// ".tmp.<pid>" appended to a name without one.
std::string temporary_path(std::string_view path, long pid);

// What stands at an item's path, by its status with symbolic links followed.
enum class Presence {
  kAbsent,  // no status can be read, for any reason
  // A regular file standing at the path itself (not reached through a link) whose size is not
  // the content's: a write that never finished.
  kTorn,
  kPresent,  // anything else, whatever it holds: items never change, so it is left alone
};
Presence presence(const std::string& path, std::uint64_t size);

// How a finished temporary file takes the item's name.
enum class Publish {
  // The item was absent: the file is linked under the name. An entry that appeared there
  // meanwhile is kept if it counts as present, and replaced otherwise. (The named form, which
  // serves file systems that may not link at all, and a copy made where the file cannot be
  // linked, are renamed over it as by kReplacing.)
  kIfAbsent,
  // Whatever is at the name is replaced in one step (a rename).
  kReplacing,
};

// A temporary file that only this call can write: unnamed (O_TMPFILE) where the file system
// allows it, so that nothing of it outlives the process; else created under a fresh name,
// exclusively and never through a symbolic link. The named form is removed when the owner dies
// unpublished. Files get mode 0666 before the umask. Nothing is synchronised to disk.
class TemporaryFile {
 public:
  // In the directory `dir` ("" is the working directory), falling back to create_named with
  // `named_path` where the file system refuses unnamed files. Fails with "tmpfile: {}".
  static base::Result<TemporaryFile> create(const std::string& dir, const std::string& named_path);
  // For content whose digest is not known yet: in the kind's folder `dir` below `root` (made
  // if missing), to be published into any item's folder below it. The named form is
  // "incoming.tmp.<pid>" there. Where the permissions of that folder deny the file (a user who
  // may write the item folders of a shared store but not the folder above them), it is a
  // scratch file in /tmp instead: readable by this user alone and nameless from the start,
  // its bytes are copied into the store when published.
  // Fails with "mkdir: {}", or with the "tmpfile: {}" of the kind's folder.
  static base::Result<TemporaryFile> create_in_kind(std::string_view root, std::string_view dir);
  // The named form alone: `named_path`, or, when that name is taken, the same name followed by
  // "." and random hexadecimal digits. Fails with "tmpfile: {}".
  static base::Result<TemporaryFile> create_named(const std::string& named_path);

  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  ~TemporaryFile();

  // Appends all of `bytes`. Fails with "write: {}".
  base::Status write(std::string_view bytes);
  // Gives the file the name `path`, whose directory exists. Where the file itself cannot take
  // that name (linkat refuses the unnamed form, the file lies on another file system or in a
  // folder the item cannot be moved from, or it is a scratch file), its bytes are copied into
  // a named file beside `path`, which takes the name instead; memory stays bounded by one
  // chunk. Fails with "rename: {}", or, for the copy, "tmpfile: {}", "write: {}" or
  // "rename: {}". Either way the file is this owner's no longer.
  base::Status publish(const std::string& path, Publish how);

 private:
  TemporaryFile(base::Fd fd, std::string name) : fd_(std::move(fd)), name_(std::move(name)) {}
  static base::Result<TemporaryFile> create_named(const std::string& named_path, mode_t mode);
  static base::Result<TemporaryFile> create_scratch();
  int link_as(const std::string& path) const;
  base::Status publish_copy(const std::string& path) const;
  base::Status append_from(int fd);

  base::Fd fd_;
  std::string name_;  // the named form's path; empty for an unnamed file or once published
  std::uint64_t size_ = 0;
  bool scratch_ = false;  // outside the store: never linked into it
};

// Creates the missing directories above `path` (0777 before the umask). Fails with
// "mkdir: {}"; the directories made before the failure stay.
base::Status make_parent_directories(const std::string& path);

// The whole write of an item: its directories, a temporary file beside it, the bytes, and the
// name. Fails with "mkdir: {}", "tmpfile: {}", "write: {}" or "rename: {}"; after a failure no
// temporary file remains.
base::Status atomic_write(const std::string& path, std::string_view bytes,
                          Publish how = Publish::kReplacing);

// Opens the item at `path` for reading without blocking on what stands there: only a regular
// file (symbolic links followed) counts as a readable item, since a FIFO would block and a
// device need never end. An invalid Fd otherwise.
base::Fd open_item(const std::string& path);

}  // namespace tovrel::cas
