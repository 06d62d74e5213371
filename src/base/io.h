#pragma once
// Whole reads of standard input and of files.

#include <string>

#include "base/result.h"

namespace tovrel::base {

// All bytes of descriptor 0 until end of file; the error is the OS error text.
Result<std::string> read_stdin_bytes();
// All bytes of standard input as UTF-8 text; invalid UTF-8 gives kInvalidUtf8Stream.
Result<std::string> read_stdin_text();

// All bytes of the file at `path` (symbolic links followed); the error is the OS error text.
Result<std::string> read_file_bytes(const std::string& path);
// The file as UTF-8 text; invalid UTF-8 gives kInvalidUtf8Stream.
Result<std::string> read_file_text(const std::string& path);

}  // namespace tovrel::base
