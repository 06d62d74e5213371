#pragma once
// The compact JSON text and the Number text.
//
// Compact text: no whitespace, keys in byte order, strings escaped only for '"', '\\' and
// control characters (\b \t \n \f \r, the others as \u00xx with lowercase hex).
// Number text: integers in decimal; doubles as the shortest round-trip digits, in fixed
// notation with ".0" for integral values when the exponent of the first digit is in -5..15,
// otherwise d[.ddd]e±X (1e+16, 1.5e-7); NaN and infinities as null.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/handler.h"
#include "json/value.h"

namespace tovrel::json {

void write_compact(const JsonValue& value, std::string& out);
std::string to_compact(const JsonValue& value);

void write_number_text(double value, std::string& out);
std::string number_text(double value);

// Appends `s` as a quoted compact JSON string.
void write_compact_string(std::string_view s, std::string& out);

// The one quoting routine of both texts. Appends `s` between double quotes with '"', '\\' and
// the control characters escaped as the compact text escapes them. Bytes from 0x80 on are
// written as they are, unless `non_ascii` is given: it then receives the text from such a byte
// on, appends the form it wants and returns how many bytes it took (at least one).
using NonAsciiWriter = std::size_t (*)(std::string_view rest, std::string& out);
void write_quoted(std::string_view s, std::string& out, NonAsciiWriter non_ascii = nullptr);

// The layout of the compact text with another string form (the canonical text escapes more):
// every string and key is written by `write_string`.
using StringWriter = void (*)(std::string_view s, std::string& out);
void write_json(const JsonValue& value, std::string& out, StringWriter write_string);

// The one writer of that layout, as a Handler, so that a document can also be written as it is
// parsed, without its value being built. It puts each object's members in byte order of their
// keys itself, keeping the last value of a repeated key; members that arrive in order cost one
// key comparison each, the others are moved once when their object ends.
class TextWriter final : public Handler {
 public:
  TextWriter(std::string& out, StringWriter write_string)
      : out_(out), write_string_(write_string) {}

  void null() override;
  void boolean(bool value) override;
  void u64(std::uint64_t value) override;
  void i64(std::int64_t value) override;
  void f64(double value) override;
  void string(std::string_view value) override;
  void key(std::string_view key) override;
  void begin_array() override;
  void end_array() override;
  void begin_object() override;
  void end_object() override;

 private:
  struct Open {
    bool object;
    bool in_order;             // keys so far strictly ascending
    std::size_t count;         // elements or members so far
    std::size_t body;          // offset in the text just after the opening bracket
    std::size_t first_member;  // index in members_
    std::size_t keys;          // size of keys_ when the object opened
  };
  // One member of an open object: where its text starts (at the quoted key) and its key as
  // read, before any escaping, in keys_.
  struct Member {
    std::size_t text;
    std::size_t key;
    std::size_t key_size;
  };

  void separate();
  std::string_view key_of(const Member& m) const {
    return std::string_view(keys_).substr(m.key, m.key_size);
  }
  void put_in_order(const Open& object);

  std::string& out_;
  StringWriter write_string_;
  std::vector<Open> open_;
  std::vector<Member> members_;
  std::string keys_;
  std::vector<std::size_t> order_;
  std::string moved_;
};

}  // namespace tovrel::json
