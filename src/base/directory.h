#pragma once
// A directory held open by a descriptor, and the calls that work relative to it: names made
// in it land in the directory opened, whatever its path comes to name afterwards (a directory
// swapped for a symbolic link half-way redirects nothing).

#include <sys/types.h>

#include <string>

#include "base/fd.h"

namespace tovrel::base {

// Opens the directory at `path` ("" is the working directory), following symbolic links: for
// reading where this process may, else as a bare reference (O_PATH), which needs no permission
// on the directory itself. An invalid Fd with errno set on failure (ENOTDIR when it is no
// directory).
Fd open_directory(const std::string& path);

// fchmod(2) of the directory `fd` opened by open_directory, a bare reference included (set
// through its /proc/self/fd entry, which names the very directory): 0 or errno.
int change_mode(int fd, mode_t mode);

// openat(2) of `name` in the directory `dir`, O_CLOEXEC added and EINTR retried; an invalid
// Fd with errno set on failure.
Fd open_at(int dir, const std::string& name, int flags, mode_t mode = 0);

}  // namespace tovrel::base
