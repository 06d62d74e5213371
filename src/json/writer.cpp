#include "json/writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "base/decimal.h"
#include "json/scan.h"

namespace tovrel::json {

namespace {

// How each ASCII byte is written inside a string: '"', '\\' and the control characters as
// escapes (the short ones where JSON has them, \u00xx with lowercase hex otherwise), the
// others as they are (size 0).
struct Escape {
  char text[6];
  std::uint8_t size;
};
constexpr std::array<Escape, 0x80> kEscapes = [] {
  constexpr char kHex[] = "0123456789abcdef";
  std::array<Escape, 0x80> table{};
  for (unsigned c = 0; c < 0x20; ++c) {
    table[c] = {{'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]}, 6};
  }
  const auto short_escape = [&](unsigned char c, char letter) { table[c] = {{'\\', letter}, 2}; };
  short_escape('"', '"');
  short_escape('\\', '\\');
  short_escape('\b', 'b');
  short_escape('\t', 't');
  short_escape('\n', 'n');
  short_escape('\f', 'f');
  short_escape('\r', 'r');
  return table;
}();

template <class Int>
void write_integer(Int n, std::string& out) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, res.ptr);
}

}  // namespace

void write_number_text(double value, std::string& out) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (std::signbit(value)) out += '-';
  if (value == 0) {
    out += "0.0";
    return;
  }
  const base::ShortestDigits sd = base::shortest_digits(value);
  const int n = static_cast<int>(sd.digits.size());
  const int e = sd.exponent;
  if (e >= -5 && e <= 15) {
    if (e < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-e - 1), '0');
      out += sd.digits;
    } else if (e + 1 >= n) {
      out += sd.digits;
      out.append(static_cast<std::size_t>(e + 1 - n), '0');
      out += ".0";
    } else {
      out.append(sd.digits, 0, static_cast<std::size_t>(e + 1));
      out += '.';
      out.append(sd.digits, static_cast<std::size_t>(e + 1));
    }
    return;
  }
  out += sd.digits[0];
  if (n > 1) {
    out += '.';
    out.append(sd.digits, 1);
  }
  out += e < 0 ? "e-" : "e+";
  write_integer(e < 0 ? -e : e, out);
}

std::string number_text(double value) {
  std::string out;
  write_number_text(value, out);
  return out;
}

void write_quoted(std::string_view s, std::string& out, NonAsciiWriter non_ascii) {
  const char* const p = s.data();
  const std::size_t n = s.size();
  out += '"';
  std::size_t run = 0;  // start of the pending run of bytes written as they are
  std::size_t i = 0;
  while (i < n) {
    if (n - i >= 8) {
      const std::uint64_t v = scan::load8(p + i);
      if (non_ascii ? !scan::has_special_or_high(v) : !scan::has_quote_backslash_or_control(v)) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (c < 0x80 ? kEscapes[c].size == 0 : non_ascii == nullptr) {
      ++i;
      continue;
    }
    out.append(p + run, i - run);
    if (c < 0x80) {
      out.append(kEscapes[c].text, kEscapes[c].size);
      ++i;
    } else {
      i += non_ascii(s.substr(i), out);
    }
    run = i;
  }
  out.append(p + run, n - run);
  out += '"';
}

void write_compact_string(std::string_view s, std::string& out) { write_quoted(s, out); }

void write_json(const JsonValue& value, std::string& out, StringWriter write_string) {
  struct Visitor {
    std::string& out;
    StringWriter write_string;
    void operator()(std::monostate) { out += "null"; }
    void operator()(bool b) { out += b ? "true" : "false"; }
    void operator()(std::uint64_t n) { write_integer(n, out); }
    void operator()(std::int64_t n) { write_integer(n, out); }
    void operator()(double d) { write_number_text(d, out); }
    void operator()(const std::string& s) { write_string(s, out); }
    void operator()(const Array& a) {
      out += '[';
      bool first = true;
      for (const auto& v : a) {
        if (!first) out += ',';
        first = false;
        write_json(v, out, write_string);
      }
      out += ']';
    }
    void operator()(const Object& o) {
      // The map holds its keys in byte order, the order they must be written in.
      out += '{';
      bool first = true;
      for (const auto& [k, v] : o) {
        if (!first) out += ',';
        first = false;
        write_string(k, out);
        out += ':';
        write_json(v, out, write_string);
      }
      out += '}';
    }
  };
  std::visit(Visitor{out, write_string}, value.storage());
}

void write_compact(const JsonValue& value, std::string& out) {
  write_json(value, out, write_compact_string);
}

std::string to_compact(const JsonValue& value) {
  std::string out;
  write_compact(value, out);
  return out;
}

}  // namespace tovrel::json
