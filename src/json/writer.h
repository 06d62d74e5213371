#pragma once
// The compact JSON text and the Number text.
//
// Compact text: no whitespace, keys in byte order, strings escaped only for '"', '\\' and
// control characters (\b \t \n \f \r, the others as \u00xx with lowercase hex).
// Number text: integers in decimal; doubles as the shortest round-trip digits, in fixed
// notation with ".0" for integral values when the exponent of the first digit is in -5..15,
// otherwise d[.ddd]e±X (1e+16, 1.5e-7); NaN and infinities as null.

#include <cstddef>
#include <string>
#include <string_view>

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

// The compact layout with another string form (the canonical text escapes more): every
// string and key is written by `write_string`, numbers by the Number text.
using StringWriter = void (*)(std::string_view s, std::string& out);
void write_json(const JsonValue& value, std::string& out, StringWriter write_string);

}  // namespace tovrel::json
