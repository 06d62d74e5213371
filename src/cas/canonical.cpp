#include "cas/canonical.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

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

template <class Int>
void write_integer(Int n, std::string& out) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, res.ptr);
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
  struct Visitor {
    std::string& out;
    void operator()(std::monostate) { out += "null"; }
    void operator()(bool b) { out += b ? "true" : "false"; }
    void operator()(std::uint64_t n) { write_integer(n, out); }
    void operator()(std::int64_t n) { write_integer(n, out); }
    void operator()(double d) { json::write_number_text(d, out); }
    void operator()(const std::string& s) { write_quoted_json_string(s, out); }
    void operator()(const json::Array& a) {
      out += '[';
      for (std::size_t k = 0; k < a.size(); ++k) {
        if (k) out += ',';
        write_canonical_json(a[k], out);
      }
      out += ']';
    }
    void operator()(const json::Object& o) {
      // The key order is that of the raw UTF-8 bytes (code point order), never that of the
      // escaped texts. The map's own order is already bytewise (char_traits<char> compares
      // as unsigned char); the check keeps the text right should the container ever change.
      std::vector<const json::Object::value_type*> entries;
      entries.reserve(o.size());
      for (const auto& entry : o) entries.push_back(&entry);
      const auto byte_less = [](const auto* a, const auto* b) {
        return std::lexicographical_compare(
            a->first.begin(), a->first.end(), b->first.begin(), b->first.end(),
            [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
      };
      if (!std::is_sorted(entries.begin(), entries.end(), byte_less)) {
        std::sort(entries.begin(), entries.end(), byte_less);
      }
      out += '{';
      for (std::size_t k = 0; k < entries.size(); ++k) {
        if (k) out += ',';
        write_quoted_json_string(entries[k]->first, out);
        out += ':';
        write_canonical_json(entries[k]->second, out);
      }
      out += '}';
    }
  };
  std::visit(Visitor{out}, value.storage());
}

std::string canonical_json(const json::JsonValue& value) {
  std::string out;
  write_canonical_json(value, out);
  return out;
}

}  // namespace tovrel::cas
