#include "cas/cas.h"

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "base/io.h"
#include "base/os_error.h"
#include "base/output.h"
#include "base/overloaded.h"
#include "cas/canonical.h"
#include "cas/store.h"
#include "json/error_result.h"
#include "json/parser.h"

namespace tovrel::cas {

namespace {

constexpr std::string_view kInvalidHash = "invalid hash: expected 64 hex chars\n";
constexpr std::string_view kNotFound = "not found\n";
constexpr std::string_view kStdinStep = "stdin";
constexpr std::string_view kInvalidJsonStep = "invalid JSON";
constexpr std::size_t kDigestLength = 64;

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
  base::stderr_write(kInvalidHash);
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

// An item found torn is replaced; one found absent is linked, keeping whatever appears there
// meanwhile.
Publish publish_for(Presence found) {
  return found == Presence::kTorn ? Publish::kReplacing : Publish::kIfAbsent;
}

json::JsonValue store(const StoreArgs& args) {
  auto input = base::read_all(0);
  if (!input) return json::error_result(kStdinStep, input.error());

  std::string canonical;
  if (!args.blob) {
    auto value = json::parse(input->view());
    if (!value) return json::error_result(kInvalidJsonStep, value.error());
    // The input is no longer needed; release it before the canonical text is built.
    input->release();
    canonical = canonical_json(*value);
  }
  const std::string_view content = args.blob ? input->view() : canonical;

  std::string digest = sha256_hex(content);
  const std::string path = item_path(args.root, digest, args.blob);
  // Whatever is already there, even a directory, counts as stored: items never change. Only a
  // regular file of another size is written again: a write that never finished left it.
  const Presence found = presence(path, content.size());
  if (found != Presence::kPresent) {
    const base::Status written = atomic_write(path, content, publish_for(found));
    if (!written) return json::error_result(written.error());
  }
  json::JsonValue result = json::object();
  result["hash"] = std::move(digest);
  return result;
}

// All bytes of the item at `path`; anything but a regular file cannot be read.
base::Result<base::InputBytes> read_item(const std::string& path) {
  const base::Fd item = open_item(path);
  if (!item.valid()) return base::Error{};
  return base::read_all(item.get());
}

[[noreturn]] void fetch(const FetchArgs& args) {
  require_hex_hash(args.hash);
  const auto bytes = read_item(item_path(args.root, args.hash, args.blob));
  if (!bytes) {
    base::stderr_write(kNotFound);
    base::exit_process(1);
  }
  if (auto err = base::stdout_writer().write(bytes->view())) base::printing_failed(*err);
  if (auto err = base::stdout_writer().flush()) base::printing_failed(*err);
  base::exit_process(0);
}

json::JsonValue verify(const CasVerifyArgs& args) {
  require_hex_hash(args.hash);
  const auto bytes = read_item(item_path(args.root, args.hash, args.blob));
  // Stored bytes are hashed as they are: no parsing, no rewriting; the comparison is exact,
  // so an uppercase digest is never valid.
  const bool valid = bytes.ok() && sha256_hex(bytes->view()) == args.hash;
  json::JsonValue result = json::object();
  result["hash"] = args.hash;
  result["valid"] = valid;
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
