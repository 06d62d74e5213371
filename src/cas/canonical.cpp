#include "cas/canonical.h"

#include <cstdint>
#include <utility>

#include "base/hex.h"
#include "base/utf8.h"
#include "json/parser.h"
#include "json/writer.h"

namespace tovrel::cas {

namespace {

void append_u_escape(std::uint32_t unit, std::string& out) {
  const char b[6] = {'\\',
                     'u',
                     base::hex_digit(unit >> 12),
                     base::hex_digit(unit >> 8),
                     base::hex_digit(unit >> 4),
                     base::hex_digit(unit)};
  out.append(b, 6);
}

// One character from U+0080 on, as one \u escape or a surrogate pair of them; bytes that do
// not start a UTF-8 sequence become U+FFFD, one per maximal ill-formed subpart.
std::size_t write_code_point_escapes(std::string_view rest, std::string& out) {
  const base::Utf8Char c = base::decode_utf8(rest);
  const std::uint32_t cp = c.code_point;
  if (cp < 0x10000) {
    append_u_escape(cp, out);
  } else {
    append_u_escape(0xD800 + ((cp - 0x10000) >> 10), out);
    append_u_escape(0xDC00 + (cp & 0x3FF), out);
  }
  return c.length;
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
