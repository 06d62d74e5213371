#include "cas/canonical.h"

#include <cstdint>

#include "base/utf8.h"
#include "json/writer.h"

namespace tovrel::cas {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_u_escape(std::uint32_t unit, std::string& out) {
  const char b[6] = {'\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF],
                     kHex[(unit >> 4) & 0xF], kHex[unit & 0xF]};
  out.append(b, 6);
}

std::uint32_t decode(std::string_view seq) {
  const auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(seq[i])); };
  switch (seq.size()) {
    case 2: return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3: return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default: return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
  }
}

}  // namespace

void write_quoted_json_string(std::string_view s, std::string& out) {
  out += '"';
  std::size_t run = 0;  // start of the pending run of bytes written as they are
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    out.append(s.data() + run, i - run);
    if (c < 0x80) {
      ++i;
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default: append_u_escape(c, out);
      }
    } else {
      std::size_t maximal = 1;
      const std::size_t len = base::utf8_sequence_length(s.substr(i), &maximal);
      std::uint32_t cp = 0xFFFD;
      if (len) cp = decode(s.substr(i, len));
      i += len ? len : maximal;
      if (cp < 0x10000) {
        append_u_escape(cp, out);
      } else {
        append_u_escape(0xD800 + ((cp - 0x10000) >> 10), out);
        append_u_escape(0xDC00 + (cp & 0x3FF), out);
      }
    }
    run = i;
  }
  out.append(s.data() + run, s.size() - run);
  out += '"';
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

}  // namespace tovrel::cas
