#include "cas/cas.h"

#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/io.h"
#include "base/os_error.h"
#include "base/output.h"
#include "base/overloaded.h"
#include "base/sys.h"
#include "cas/canonical.h"
#include "cas/chunk_hasher.h"
#include "cas/messages.h"
#include "cas/store.h"
#include "crypto/sha256.h"
#include "json/error_result.h"

namespace tovrel::cas {

namespace {

constexpr std::size_t kDigestLength = 64;

// Blob contents up to this size are held in memory, so that storing one that is already
// present costs no write; larger ones are written as they are read.
constexpr std::size_t kHeldWhole = 4 << 20;
// The unit of the reads of fetch and verify.
constexpr std::size_t kChunk = 256 << 10;
// sendfile(2) moves at most about 2 GiB per call.
constexpr std::size_t kSendMost = 1 << 30;

bool is_hex_hash(std::string_view hash) {
  if (hash.size() != kDigestLength) return false;
  for (const char c : hash) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

// Runs before any file is touched; a rejected digest ends the process.
void require_hex_hash(std::string_view hash) {
  if (is_hex_hash(hash)) return;
  base::stderr_write(text::kInvalidHash);
  base::exit_process(1);
}

std::string item_path(std::string_view root, std::string_view digest, bool blob) {
  return blob ? object_path(root, kBlobsDir, digest, "")
              : object_path(root, kObjectsDir, digest, kObjectExtension);
}

// Whether the status of `path` can be read, following symbolic links; any failure counts as
// absent.
bool status_readable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

json::JsonValue hash_result(std::string digest) {
  json::JsonValue result = json::object();
  result["hash"] = std::move(digest);
  return result;
}

json::JsonValue stdin_error(int err) {
  return json::error_result(text::kStdin, base::os_error_text(err));
}

// An item found torn is replaced; one found absent is linked, keeping whatever appears there
// meanwhile.
Publish publish_for(Presence found) {
  return found == Presence::kTorn ? Publish::kReplacing : Publish::kIfAbsent;
}

// Stores `content` under its digest unless an item is present, and answers the digest.
json::JsonValue keep(const std::string& root, std::string_view content, bool blob) {
  std::string digest = crypto::sha256_hex(content);
  const std::string path = item_path(root, digest, blob);
  // Whatever is already there, even a directory, counts as stored: items never change. Only a
  // regular file of another size is written again: a write that never finished left it.
  const Presence found = presence(path, content.size());
  if (found != Presence::kPresent) {
    const base::Status written = atomic_write(path, content, publish_for(found));
    if (!written) return json::error_result(written.error());
  }
  return hash_result(std::move(digest));
}

// Content too large to hold: written to a temporary file as it is read and hashed alongside,
// and named once the digest is known (copied into the item's folder where it cannot be linked
// there). The results are those of holding it whole: a read that
// fails is "stdin: {}" whatever was written, and an item already present is kept even where
// the temporary file could not be made or written (a read-only store, a full disk).
json::JsonValue store_streamed(const std::string& root, std::string_view first) {
  ChunkHasher hasher;
  std::uint64_t size = 0;
  std::optional<TemporaryFile> file;
  base::Status spilled = base::ok_status();
  if (auto created = TemporaryFile::create_in_kind(root, kBlobsDir)) {
    file.emplace(std::move(*created));
  } else {
    spilled = std::move(created).take_error();
  }
  const auto take = [&](std::string_view bytes) {
    size += bytes.size();
    if (!file) return;
    if (spilled = file->write(bytes); !spilled) file.reset();
  };

  // The part already held goes through the hasher's buffers like the rest.
  for (std::string_view rest = first; !rest.empty();) {
    const std::string_view part = rest.substr(0, ChunkHasher::kChunk);
    rest.remove_prefix(part.size());
    std::copy(part.begin(), part.end(), hasher.next());
    hasher.submit(part.size());
    take(part);
  }
  for (;;) {
    char* const chunk = hasher.next();
    const ssize_t n = base::read_up_to(0, chunk, ChunkHasher::kChunk);
    if (n < 0) return stdin_error(errno);
    if (n == 0) break;
    hasher.submit(static_cast<std::size_t>(n));
    take({chunk, static_cast<std::size_t>(n)});
  }

  std::string digest = hasher.finish();
  const std::string path = item_path(root, digest, true);
  const Presence found = presence(path, size);
  if (found != Presence::kPresent) {
    base::Status published = make_parent_directories(path);
    if (published) published = file ? file->publish(path, publish_for(found)) : std::move(spilled);
    if (!published) return json::error_result(published.error());
  }
  return hash_result(std::move(digest));
}

json::JsonValue store_blob(const std::string& root) {
  // Not zero-filled: a page of it costs only once a read reaches it.
  const auto buffer = std::make_unique_for_overwrite<char[]>(kHeldWhole);
  const ssize_t held = base::read_up_to(0, buffer.get(), kHeldWhole);
  if (held < 0) return stdin_error(errno);
  const std::string_view content(buffer.get(), static_cast<std::size_t>(held));
  // A content of exactly kHeldWhole bytes may have ended too: it is streamed all the same.
  if (content.size() < kHeldWhole) return keep(root, content, true);
  return store_streamed(root, content);
}

json::JsonValue store(const StoreArgs& args) {
  if (args.blob) return store_blob(args.root);
  auto input = base::read_all(0);
  if (!input) return json::error_result(text::kStdin, input.error());
  // The canonical text is written while the document is parsed: no value tree is built.
  auto canonical = canonicalize(input->view());
  if (!canonical) return json::error_result(text::kInvalidJson, canonical.error());
  input->free_storage();
  return keep(args.root, *canonical, false);
}

[[noreturn]] void not_found() {
  base::stderr_write(text::kNotFound);
  base::exit_process(1);
}

// The end of a fetch whose write failed with `err` (an errno value, or base::kNoProgress). A
// reader that has gone (EPIPE) chose to stop reading, as `cas fetch ... | head -c 100` does:
// that is no failure of ours, and a script under pipefail must not fail for it. Any other
// failed write (a full disk, EIO) would otherwise pass for a success.
[[noreturn]] void write_failed(int err) {
  if (err == EPIPE) base::exit_process(0);
  base::printing_failed(base::write_failure_text(err));
}

// The plain copy of the rest of `item` to descriptor 1, by the stdout writer's rules (a
// descriptor that is not open swallows everything). `sent` counts what went out before: a
// read that fails before anything did is an item that cannot be read.
[[noreturn]] void copy_to_stdout(int item, std::uint64_t sent) {
  const auto buffer = std::make_unique_for_overwrite<char[]>(kChunk);
  for (;;) {
    const ssize_t n = base::read_some(item, buffer.get(), kChunk);
    if (n == 0) break;
    if (n < 0) {
      if (sent == 0) not_found();
      base::internal_failure(
          base::with_cause(text::kReadingItemFailed, base::os_error_text(errno)));
    }
    const int err = base::write_all(1, {buffer.get(), static_cast<std::size_t>(n)});
    if (err != 0 && err != EBADF) write_failed(err);
    sent += static_cast<std::uint64_t>(n);
  }
  base::exit_process(0);
}

[[noreturn]] void fetch(const FetchArgs& args) {
  require_hex_hash(args.hash);
  const base::Fd item = open_item(item_path(args.root, args.hash, args.blob));
  if (!item.valid()) not_found();
  if (auto err = base::stdout_writer().flush()) base::printing_failed(*err);
  // The kernel moves the bytes where it can (to a pipe, a file, /dev/null). Any other failure
  // leaves the rest to the plain copy, which tells a failed read from a failed write.
  std::uint64_t sent = 0;
  for (;;) {
    const ssize_t n = base::send_some(1, item.get(), kSendMost);
    if (n == 0) base::exit_process(0);
    if (n < 0 && errno == EPIPE) write_failed(EPIPE);
    if (n < 0) break;
    sent += static_cast<std::uint64_t>(n);
  }
  copy_to_stdout(item.get(), sent);
}

// The digest of the item's bytes as they are stored, read in pieces; none when they cannot be
// read.
std::optional<std::string> digest_of_item(const std::string& path) {
  const base::Fd item = open_item(path);
  if (!item.valid()) return std::nullopt;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kChunk);
  crypto::Sha256 hash;
  for (;;) {
    const ssize_t n = base::read_some(item.get(), buffer.get(), kChunk);
    if (n < 0) return std::nullopt;
    if (n == 0) return crypto::digest_hex(hash.finish());
    hash.update({buffer.get(), static_cast<std::size_t>(n)});
  }
}

json::JsonValue verify(const CasVerifyArgs& args) {
  require_hex_hash(args.hash);
  // Stored bytes are hashed as they are: no parsing, no rewriting; the comparison is exact,
  // so an uppercase digest is never valid.
  const auto digest = digest_of_item(item_path(args.root, args.hash, args.blob));
  json::JsonValue result = json::object();
  result["hash"] = args.hash;
  result["valid"] = digest == args.hash;
  return result;
}

json::JsonValue has(const HasArgs& args) {
  require_hex_hash(args.hash);
  const bool exists = status_readable(item_path(args.root, args.hash, true)) ||
                      status_readable(item_path(args.root, args.hash, false));
  json::JsonValue result = json::object();
  result["exists"] = exists;
  result["hash"] = args.hash;
  return result;
}

}  // namespace

json::JsonValue handle_cas(CasCommands command) {
  return std::visit(base::Overloaded{
                        [](const StoreArgs& a) { return store(a); },
                        [](const FetchArgs& a) -> json::JsonValue { fetch(a); },
                        [](const CasVerifyArgs& a) { return verify(a); },
                        [](const HasArgs& a) { return has(a); },
                    },
                    command);
}

}  // namespace tovrel::cas
