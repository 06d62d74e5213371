#include "identity/key_files.h"

#include <errno.h>
#include <fcntl.h>

#include "base/os_error.h"
#include "base/sys.h"
#include "crypto/sha256.h"
#include "identity/messages.h"

namespace tovrel::identity {

base::Status make_key_directory(const std::string& dir) {
  if (dir.empty()) return base::ok_status();
  if (const int err = base::make_directories(dir)) {
    return base::Error{base::with_cause(text::kMkdir, base::os_error_text(err))};
  }
  return base::ok_status();
}

base::Status write_key_file(const std::string& path, std::string_view content, std::uint32_t mode) {
  const auto step = [&path](std::string_view what) { return std::string(what) + " " + path; };
  const base::Fd fd = base::open_file(path, O_WRONLY | O_CREAT | O_EXCL, static_cast<mode_t>(mode));
  if (!fd.valid())
    return base::Error{base::with_cause(step(text::kCreate), base::os_error_text(errno))};
  if (const int err = base::write_all(fd.get(), content)) {
    return base::Error{base::with_cause(step(text::kWrite), base::write_failure_text(err))};
  }
  return base::ok_status();
}

std::string key_fingerprint(std::string_view bytes) {
  return crypto::sha256_hex(bytes).substr(0, 16);
}

}  // namespace tovrel::identity
