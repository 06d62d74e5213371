#include "cas/store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "base/hex.h"
#include "base/os_error.h"
#include "base/path.h"
#include "base/sys.h"
#include "cas/messages.h"
#include "crypto/random.h"
#include "crypto/sha256.h"

namespace tovrel::cas {

namespace {

// The name of a temporary file whose digest is not known yet, in its kind's folder. It cannot
// be taken for an item (no digest) or a fan-out folder (two characters).
constexpr std::string_view kIncomingName = "incoming";

// The name of a scratch file's named form in the system's temporary folder.
constexpr std::string_view kScratchName = "tovrel-incoming";
constexpr std::string_view kScratchFolder = "/tmp";

// The unit in which a temporary file is copied into another.
constexpr std::size_t kCopyChunk = 256 << 10;

// Fresh names tried after the plain temporary name is taken; each is random, so only a
// writer that can list the folder keeps finding them taken.
constexpr int kFreshNameAttempts = 8;

base::Error step_error(std::string_view step, int err) {
  return base::Error{base::with_cause(step, base::os_error_text(err))};
}

// `path` followed by "." and 16 random hexadecimal digits, or `path` itself when the random
// source fails (the exclusive create then fails on the taken name).
std::string fresh_name(const std::string& path) {
  unsigned char random[8];
  if (!crypto::random_bytes(random, sizeof random)) return path;
  return path + "." +
         base::hex_lower(std::string_view(reinterpret_cast<const char*>(random), sizeof random));
}

// Calls `attempt` with the plain name and then with fresh ones while it fails with EEXIST;
// 0 or the errno of the last attempt, with the name used in `name`.
template <class Attempt>
int with_free_name(const std::string& plain, std::string& name, Attempt attempt) {
  int err = EEXIST;
  for (int k = 0; k <= kFreshNameAttempts && err == EEXIST; ++k) {
    name = k == 0 ? plain : fresh_name(plain);
    err = attempt(name);
  }
  return err;
}

// Whether this process is denied writing into the folder `dir` by its permissions (and not,
// say, by a read-only file system, where no item can be written either).
bool may_not_write(const std::string& dir) {
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return false;
  return errno == EACCES || errno == EPERM;
}

// The file system has no unnamed files (or the kernel predates them).
bool refuses_unnamed(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

}  // namespace

std::string kind_directory(std::string_view root, std::string_view dir) {
  std::string path(root);
  base::append_path(path, dir);
  return path;
}

std::string object_path(std::string_view root, std::string_view dir, std::string_view digest,
                        std::string_view extension) {
  std::string path = kind_directory(root, dir);
  path.reserve(path.size() + digest.size() + extension.size() + 8);
  base::append_path(path, digest.substr(0, 2));
  base::append_path(path, digest.substr(2, 2));
  base::append_path(path, digest);
  path += extension;
  return path;
}

std::string temporary_path(std::string_view path, long pid) {
  const std::size_t name_start = path.rfind('/') + 1;  // npos + 1 == 0
  const std::string_view name = path.substr(name_start);
  const std::size_t dot = name.rfind('.');
  std::string out(path);
  // A name's extension follows its last dot, unless that dot is its first character.
  if (dot == std::string_view::npos || dot == 0) {
    out += '.';
  } else {
    out.resize(name_start + dot + 1);
  }
  out += "tmp.";
  out += std::to_string(pid);
  return out;
}

Presence presence(const std::string& path, std::uint64_t size) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return Presence::kAbsent;
  if (S_ISREG(st.st_mode)) {
    return static_cast<std::uint64_t>(st.st_size) == size ? Presence::kPresent : Presence::kTorn;
  }
  // A link is never repaired, whatever it leads to: what it names is not ours to rewrite.
  if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) return Presence::kAbsent;
  return Presence::kPresent;
}

base::Result<TemporaryFile> TemporaryFile::create(const std::string& dir,
                                                  const std::string& named_path) {
  // Open for reading too: publish may have to copy the bytes elsewhere.
  base::Fd fd = base::open_file(dir.empty() ? "." : dir, O_TMPFILE | O_RDWR, 0666);
  if (fd.valid()) return TemporaryFile(std::move(fd), "");
  if (!refuses_unnamed(errno)) return step_error(text::kTmpfile, errno);
  return create_named(named_path);
}

base::Result<TemporaryFile> TemporaryFile::create_in_kind(std::string_view root,
                                                          std::string_view dir) {
  const std::string kind = kind_directory(root, dir);
  if (const int err = base::make_directories(kind)) return step_error(text::kMkdir, err);
  std::string named = kind;
  base::append_path(named, kIncomingName);
  auto file = create(kind, temporary_path(named, static_cast<long>(::getpid())));
  if (file || !may_not_write(kind)) return file;
  if (auto scratch = create_scratch()) return scratch;
  return file;
}

base::Result<TemporaryFile> TemporaryFile::create_named(const std::string& named_path) {
  return create_named(named_path, 0666);
}

base::Result<TemporaryFile> TemporaryFile::create_named(const std::string& named_path,
                                                        mode_t mode) {
  base::Fd fd;
  std::string name;
  const int err = with_free_name(named_path, name, [&fd, mode](const std::string& candidate) {
    fd = base::open_file(candidate, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
    return fd.valid() ? 0 : errno;
  });
  if (err) return step_error(text::kTmpfile, err);
  return TemporaryFile(std::move(fd), std::move(name));
}

base::Result<TemporaryFile> TemporaryFile::create_scratch() {
  // Always /tmp: tovrel reads no environment variable of its own, TMPDIR included.
  const std::string dir(kScratchFolder);
  // Mode 0600: the bytes are nobody else's business until they reach the store, whose folders
  // say who may read them.
  base::Fd fd = base::open_file(dir, O_TMPFILE | O_RDWR, 0600);
  if (!fd.valid() && !refuses_unnamed(errno)) return step_error(text::kTmpfile, errno);
  if (fd.valid()) {
    TemporaryFile file(std::move(fd), "");
    file.scratch_ = true;
    return file;
  }
  std::string named = dir;
  base::append_path(named, kScratchName);
  auto file = create_named(temporary_path(named, static_cast<long>(::getpid())), 0600);
  if (!file) return file;
  // Only the descriptor is needed: nothing of the file outlives the process.
  ::unlink(std::exchange(file->name_, {}).c_str());
  file->scratch_ = true;
  return file;
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : fd_(std::move(other.fd_)),
      name_(std::exchange(other.name_, {})),
      size_(other.size_),
      scratch_(other.scratch_) {}

TemporaryFile::~TemporaryFile() {
  if (!name_.empty()) ::unlink(name_.c_str());
}

base::Status TemporaryFile::write(std::string_view bytes) {
  if (const int err = base::write_all(fd_.get(), bytes)) {
    return base::Error{base::with_cause(text::kWrite, base::write_failure_text(err))};
  }
  size_ += bytes.size();
  return base::ok_status();
}

int TemporaryFile::link_as(const std::string& path) const {
  // Naming an unnamed file through /proc needs no privilege; the descriptor form needs
  // CAP_DAC_READ_SEARCH, and serves where /proc is not mounted.
  const std::string proc_path = "/proc/self/fd/" + std::to_string(fd_.get());
  if (::linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return 0;
  if (errno != ENOENT) return errno;
  return ::linkat(fd_.get(), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

base::Status TemporaryFile::publish(const std::string& path, Publish how) {
  if (scratch_) return publish_copy(path);
  std::string from = std::exchange(name_, {});
  if (from.empty()) {
    if (how == Publish::kIfAbsent) {
      // Linking never replaces: a writer that got there first (or anything else that now
      // counts as present) wins, as if it had been there all along.
      const int err = link_as(path);
      if (err == 0) return base::ok_status();
      if (err == EEXIST && presence(path, size_) == Presence::kPresent) return base::ok_status();
      // linkat may refuse the unnamed file (EPERM under some policies, ENOENT without /proc
      // on older kernels) or the folder (another file system): a copy serves there.
      if (err != EEXIST) return publish_copy(path);
    }
    // A name of our own beside the item, then one rename over whatever is there. linkat never
    // follows or replaces an entry at the new name, so a planted one only costs a fresh name.
    const int err =
        with_free_name(temporary_path(path, static_cast<long>(::getpid())), from,
                       [this](const std::string& candidate) { return link_as(candidate); });
    if (err) return publish_copy(path);
  }
  if (::rename(from.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(from.c_str());
    // A file made in another folder (the kind's, for content whose digest was not known) may
    // lie on another file system than the item's folder, or in one the item may not leave.
    if (base::parent_directory(from) != base::parent_directory(path)) return publish_copy(path);
    return step_error(text::kRename, err);
  }
  return base::ok_status();
}

base::Status TemporaryFile::publish_copy(const std::string& path) const {
  auto copy = create_named(temporary_path(path, static_cast<long>(::getpid())));
  if (!copy) return std::move(copy).take_error();
  if (auto copied = copy->append_from(fd_.get()); !copied) return copied;
  return copy->publish(path, Publish::kReplacing);
}

base::Status TemporaryFile::append_from(int fd) {
  const auto buffer = std::make_unique_for_overwrite<char[]>(kCopyChunk);
  for (off_t offset = 0;;) {
    const ssize_t n =
        base::retry_on_eintr([&] { return ::pread(fd, buffer.get(), kCopyChunk, offset); });
    if (n < 0) return step_error(text::kWrite, errno);
    if (n == 0) return base::ok_status();
    if (auto written = write({buffer.get(), static_cast<std::size_t>(n)}); !written) {
      return written;
    }
    offset += n;
  }
}

base::Status make_parent_directories(const std::string& path) {
  if (const int err = base::make_directories(base::parent_directory(path))) {
    return step_error(text::kMkdir, err);
  }
  return base::ok_status();
}

base::Status atomic_write(const std::string& path, std::string_view bytes, Publish how) {
  if (auto made = make_parent_directories(path); !made) return made;
  auto file = TemporaryFile::create(std::string(base::parent_directory(path)),
                                    temporary_path(path, static_cast<long>(::getpid())));
  if (!file) return std::move(file).take_error();
  if (auto written = file->write(bytes); !written) return written;
  return file->publish(path, how);
}

base::Fd open_item(const std::string& path) {
  base::Fd fd = base::open_file(path, O_RDONLY | O_NONBLOCK);
  struct stat st;
  if (fd.valid() && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) fd.reset();
  return fd;
}

}  // namespace tovrel::cas
