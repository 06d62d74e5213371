#include "json/writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <variant>

#include "base/decimal.h"
#include "base/hex.h"
#include "base/overloaded.h"
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
  std::array<Escape, 0x80> table{};
  for (unsigned c = 0; c < 0x20; ++c) {
    table[c] = {{'\\', 'u', '0', '0', base::hex_digit(c >> 4), base::hex_digit(c)}, 6};
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

// The size of the compact text of `value`, exact but for escapes in strings and for numbers,
// which count their longest form.
std::size_t text_size_estimate(const JsonValue& value) {
  constexpr std::size_t kNumber = 24;
  return std::visit(base::Overloaded{
                        [](std::monostate) -> std::size_t { return 4; },
                        [](bool) -> std::size_t { return 5; },
                        [](std::uint64_t) { return kNumber; },
                        [](std::int64_t) { return kNumber; },
                        [](double) { return kNumber; },
                        [](const std::string& s) { return s.size() + 2; },
                        [](const Array& a) {
                          std::size_t size = 2 + a.size();
                          for (const JsonValue& element : a) size += text_size_estimate(element);
                          return size;
                        },
                        [](const Object& o) {
                          std::size_t size = 2 + o.size();
                          for (const auto& [key, member] : o) {
                            size += key.size() + 3 + text_size_estimate(member);
                          }
                          return size;
                        },
                    },
                    value.storage());
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
  const std::string_view digits = sd.digits();
  const int n = sd.count;
  const int e = sd.exponent;
  if (e >= -5 && e <= 15) {
    if (e < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-e - 1), '0');
      out += digits;
    } else if (e + 1 >= n) {
      out += digits;
      out.append(static_cast<std::size_t>(e + 1 - n), '0');
      out += ".0";
    } else {
      out += digits.substr(0, static_cast<std::size_t>(e + 1));
      out += '.';
      out += digits.substr(static_cast<std::size_t>(e + 1));
    }
    return;
  }
  out += digits[0];
  if (n > 1) {
    out += '.';
    out += digits.substr(1);
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
    const auto* rest = reinterpret_cast<const unsigned char*>(p + i);
    i += non_ascii ? scan::find_special<true>(rest, n - i) : scan::find_special<false>(rest, n - i);
    if (i == n) break;
    const unsigned char c = static_cast<unsigned char>(p[i]);
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

void TextWriter::null() {
  separate();
  out_ += "null";
}

void TextWriter::boolean(bool value) {
  separate();
  out_ += value ? "true" : "false";
}

void TextWriter::u64(std::uint64_t value) {
  separate();
  write_integer(value, out_);
}

void TextWriter::i64(std::int64_t value) {
  separate();
  write_integer(value, out_);
}

void TextWriter::f64(double value) {
  separate();
  write_number_text(value, out_);
}

void TextWriter::string(std::string_view value) {
  separate();
  write_string_(value, out_);
}

void TextWriter::begin_array() {
  separate();
  out_ += '[';
  open_.push_back({false, true, 0, out_.size(), members_.size(), keys_.size()});
}

void TextWriter::end_array() {
  open_.pop_back();
  out_ += ']';
}

void TextWriter::begin_object() {
  separate();
  out_ += '{';
  open_.push_back({true, true, 0, out_.size(), members_.size(), keys_.size()});
}

void TextWriter::key(std::string_view key) {
  Open& object = open_.back();
  if (object.count++ > 0) {
    out_ += ',';
    if (object.in_order && !(key_of(members_.back()) < key)) object.in_order = false;
  }
  members_.push_back({out_.size(), keys_.size(), key.size()});
  keys_.append(key);
  write_string_(key, out_);
  out_ += ':';
}

void TextWriter::end_object() {
  const Open object = open_.back();
  open_.pop_back();
  if (!object.in_order) put_in_order(object);
  members_.resize(object.first_member);
  keys_.resize(object.keys);
  out_ += '}';
}

// Before a value: the comma between two elements of an array (members have theirs before
// the key).
void TextWriter::separate() {
  if (!open_.empty() && !open_.back().object && open_.back().count++ > 0) out_ += ',';
}

// Rewrites the members of `object`, whose texts are complete, in the order of their keys;
// of members with the same key, only the last one read stays.
void TextWriter::put_in_order(const Open& object) {
  const Member* const members = members_.data() + object.first_member;
  const std::size_t n = members_.size() - object.first_member;
  order_.resize(n);
  for (std::size_t i = 0; i < n; ++i) order_[i] = i;
  std::sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
    const int c = key_of(members[a]).compare(key_of(members[b]));
    return c != 0 ? c < 0 : a < b;
  });
  moved_.clear();
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t i = order_[k];
    if (k + 1 < n && key_of(members[order_[k + 1]]) == key_of(members[i])) continue;
    // A member's text ends at the comma before the next one, or at the end of the text.
    const std::size_t end = i + 1 < n ? members[i + 1].text - 1 : out_.size();
    if (!moved_.empty()) moved_ += ',';
    moved_.append(out_, members[i].text, end - members[i].text);
  }
  out_.resize(object.body);
  out_ += moved_;
}

void write_json(const JsonValue& value, std::string& out, StringWriter write_string) {
  TextWriter writer(out, write_string);
  walk(value, writer);
}

void write_compact(const JsonValue& value, std::string& out) {
  write_json(value, out, write_compact_string);
}

std::string to_compact(const JsonValue& value) {
  std::string out;
  // Sized once: a large text grown step by step touches about twice its size in fresh pages.
  // The spare byte is for the line end that a printed result adds.
  out.reserve(text_size_estimate(value) + 1);
  write_compact(value, out);
  return out;
}

}  // namespace tovrel::json
