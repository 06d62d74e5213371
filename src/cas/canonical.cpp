#include "cas/canonical.h"

#include <cstdint>
#include <utility>

#include "base/utf8.h"
#include "json/parser.h"
#include "json/writer.h"

namespace tovrel::cas {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_u_escape(std::uint32_t unit, std::string& out) {
  const char b[6] = {'\\',
                     'u',
                     kHex[(unit >> 12) & 0xF],
                     kHex[(unit >> 8) & 0xF],
                     kHex[(unit >> 4) & 0xF],
                     kHex[unit & 0xF]};
  out.append(b, 6);
}

std::uint32_t decode(std::string_view seq) {
  const auto b = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(seq[i]));
  };
  switch (seq.size()) {
    case 2: return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3: return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default:
      return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
  }
}

// One character from U+0080 on, as one \u escape or a surrogate pair of them; bytes that do
// not start a UTF-8 sequence become U+FFFD, one per maximal ill-formed subpart.
std::size_t write_code_point_escapes(std::string_view rest, std::string& out) {
  std::size_t maximal = 1;
  const std::size_t len = base::utf8_sequence_length(rest, &maximal);
  const std::uint32_t cp = len ? decode(rest.substr(0, len)) : 0xFFFD;
  if (cp < 0x10000) {
    append_u_escape(cp, out);
  } else {
    append_u_escape(0xD800 + ((cp - 0x10000) >> 10), out);
    append_u_escape(0xDC00 + (cp & 0x3FF), out);
  }
  return len ? len : maximal;
}

}  // namespace

void write_quoted_json_string(std::string_view s, std::string& out) {
  json::write_quoted(s, out, write_code_point_escapes);
}

std::string quote_json_string(std::string_view text) {
  std::string out;
  write_quoted_json_string(text, out);
  return out;
}

void write_canonical_json(const json::JsonValue& value, std::string& out) {
  json::write_json(value, out, write_quoted_json_string);
}

std::string canonical_json(const json::JsonValue& value) {
  std::string out;
  write_canonical_json(value, out);
  return out;
}

base::Result<std::string> canonicalize(std::string_view document) {
  std::string text;
  // Usually about the size of the document; what is reserved and never written is never
  // touched, so costs nothing.
  text.reserve(document.size());
  json::TextWriter writer(text, write_quoted_json_string);
  base::Status parsed = json::parse(document, writer);
  if (!parsed) return std::move(parsed).take_error();
  return text;
}

}  // namespace tovrel::cas
