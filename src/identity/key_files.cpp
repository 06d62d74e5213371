#include "identity/key_files.h"

#include <errno.h>
#include <fcntl.h>

#include <utility>

#include "base/directory.h"
#include "base/os_error.h"
#include "base/path.h"
#include "base/sys.h"
#include "crypto/sha256.h"
#include "identity/messages.h"

namespace tovrel::identity {

base::Result<KeyDirectory> KeyDirectory::open(const std::string& dir) {
  if (const int err = base::make_directories(dir)) {
    return base::Error{base::with_cause(text::kMkdir, base::os_error_text(err))};
  }
  base::Fd fd = base::open_directory(dir);
  const int open_error = fd.valid() ? 0 : errno;
  // An empty name makes the files in the working directory, whose mode is not ours to set.
  if (fd.valid() && !dir.empty()) (void)base::change_mode(fd.get(), 0700);
  return KeyDirectory(dir, std::move(fd), open_error);
}

base::Status KeyDirectory::write(std::string_view name, std::string_view content,
                                 std::uint32_t mode) const {
  const auto step = [&](std::string_view what) {
    return std::string(what) + " " + base::join_path(path_, name);
  };
  const base::Fd fd = fd_.valid()
                          ? base::open_at(fd_.get(), std::string(name), O_WRONLY | O_CREAT | O_EXCL,
                                          static_cast<mode_t>(mode))
                          : base::Fd();
  if (!fd.valid()) {
    const int err = fd_.valid() ? errno : open_error_;
    return base::Error{base::with_cause(step(text::kCreate), base::os_error_text(err))};
  }
  if (const int err = base::write_all(fd.get(), content)) {
    return base::Error{base::with_cause(step(text::kWrite), base::write_failure_text(err))};
  }
  return base::ok_status();
}

std::string key_fingerprint(std::string_view bytes) {
  return crypto::sha256_hex(bytes).substr(0, 16);
}

}  // namespace tovrel::identity
