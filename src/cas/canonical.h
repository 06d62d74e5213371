#pragma once
// The canonical JSON text that objects are stored and addressed by: one exact byte string per
// value. Pure ASCII, no whitespace, object keys in byte order, every character from U+0080
// written as a \u escape (UTF-16 surrogate pairs above U+FFFF), numbers in the Number text.

#include <string>
#include <string_view>

#include "base/result.h"
#include "json/value.h"

namespace tovrel::cas {

// The canonical text of `value`. Cannot fail.
std::string canonical_json(const json::JsonValue& value);

// `text` (UTF-8) as a canonical string literal, quotes included. Bytes that are not UTF-8,
// which the parser never delivers, are written as U+FFFD.
std::string quote_json_string(std::string_view text);

// The canonical text of the JSON document `document`, written as it is parsed, without its
// value being built: the text canonical_json gives for the parsed value, or the parser's
// error text.
base::Result<std::string> canonicalize(std::string_view document);

// The appending forms of the two above.
void write_canonical_json(const json::JsonValue& value, std::string& out);
void write_quoted_json_string(std::string_view text, std::string& out);

}  // namespace tovrel::cas
