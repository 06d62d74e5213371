// The floor for storing a JSON document: what `cas store` does, written with RapidJSON.
// Reads standard input whole, parses it (UTF-8 checked), sorts every object's keys by their
// bytes, writes the compact text with every character from U+0080 as a \u escape, takes its
// SHA-256 and writes it under <root>/objects/<h[0..2]>/<h[2..4]>/<h>.json through a temporary
// file and a rename. Prints {"hash":"..."}. Built by bench/json.sh only; never part of tovrel.
// usage: json_floor ROOT < document.json

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

using Value = rapidjson::Value;

bool key_less(const Value::Member& a, const Value::Member& b) {
  const std::size_t n = std::min(a.name.GetStringLength(), b.name.GetStringLength());
  const int c = std::memcmp(a.name.GetString(), b.name.GetString(), n);
  return c != 0 ? c < 0 : a.name.GetStringLength() < b.name.GetStringLength();
}

void sort_keys(Value& v) {
  if (v.IsObject()) {
    std::sort(v.MemberBegin(), v.MemberEnd(), key_less);
    for (auto& m : v.GetObject()) sort_keys(m.value);
  } else if (v.IsArray()) {
    for (auto& e : v.GetArray()) sort_keys(e);
  }
}

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "json_floor: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

std::string read_stdin() {
  std::string in;
  struct stat st;
  if (::fstat(0, &st) == 0 && S_ISREG(st.st_mode))
    in.reserve(static_cast<std::size_t>(st.st_size) + 1);
  char buf[1 << 16];
  for (ssize_t n; (n = ::read(0, buf, sizeof buf)) != 0;) {
    if (n < 0) die("read");
    in.append(buf, static_cast<std::size_t>(n));
  }
  return in;
}

void make_dirs(std::string path) {
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const std::string part = path.substr(0, i);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) die("mkdir");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string input = read_stdin();
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(input.data(), input.size());
  if (doc.HasParseError()) {
    std::fprintf(stderr, "json_floor: parse error at %zu\n", doc.GetErrorOffset());
    return 1;
  }
  std::string().swap(input);
  sort_keys(doc);
  rapidjson::StringBuffer text;
  rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::ASCII<>> writer(text);
  doc.Accept(writer);

  unsigned char md[32];
  unsigned int md_len = 0;
  EVP_Digest(text.GetString(), text.GetSize(), md, &md_len, EVP_sha256(), nullptr);
  char hex[65];
  for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", md[i]);

  const std::string dir =
      std::string(argv[1]) + "/objects/" + std::string(hex, 2) + "/" + std::string(hex + 2, 2);
  const std::string path = dir + "/" + hex + ".json";
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    make_dirs(dir);
    const std::string tmp = dir + "/" + hex + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) die("open");
    const char* p = text.GetString();
    for (std::size_t left = text.GetSize(); left > 0;) {
      const ssize_t n = ::write(fd, p, left);
      if (n < 0) die("write");
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) die("rename");
  }
  std::printf("{\"hash\":\"%s\"}\n", hex);
  return 0;
}
