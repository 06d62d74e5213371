#include "json/writer.h"

#include <charconv>
#include <cmath>

#include "base/decimal.h"

namespace tovrel::json {

namespace {

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

void write_compact_string(std::string_view s, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run = 0;  // start of the pending run of characters written as they are
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(s.data() + run, s.size() - run);
  out += '"';
}

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
