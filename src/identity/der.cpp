#include "identity/der.h"

#include "base/hex.h"
#include "identity/messages.h"

namespace tovrel::identity::der {

base::Error error_at(std::string_view what, std::size_t offset) {
  std::string out(what);
  out += text::kAtDerByte;
  out += std::to_string(offset);
  return base::Error{std::move(out)};
}

std::string tag_text(std::uint8_t identifier) {
  std::string out = "0x";
  out += base::hex_digit_upper(identifier >> 4);
  out += base::hex_digit_upper(identifier);
  return out;
}

base::Result<Value> Reader::next() {
  const auto byte = [this](std::size_t at) { return static_cast<std::uint8_t>(doc_[at]); };
  Value v;
  v.start = pos_;
  std::size_t p = pos_;
  if (p >= end_) return error_at(text::kDerTruncated, v.start);
  v.identifier = byte(p++);
  v.cls = v.identifier & 0xC0;
  v.constructed = (v.identifier & 0x20) != 0;
  v.number = v.identifier & 0x1F;
  if (v.number == 0x1F) {
    // High tag number form: base-128 digits, minimal, and small enough for us to hold.
    v.number = 0;
    for (int digits = 0;; ++digits) {
      if (p >= end_) return error_at(text::kDerTruncated, v.start);
      const std::uint8_t b = byte(p++);
      if (digits == 0 && b == 0x80) return error_at(text::kDerTagTooLong, v.start);
      if (digits == 4) return error_at(text::kDerTagTooLong, v.start);
      v.number = (v.number << 7) | (b & 0x7F);
      if (!(b & 0x80)) break;
    }
  }
  if (p >= end_) return error_at(text::kDerTruncated, v.start);
  const std::uint8_t first = byte(p++);
  std::size_t length = first;
  if (first == 0x80) return error_at(text::kDerIndefinite, v.start);
  if (first > 0x80) {
    const std::size_t count = first & 0x7F;
    if (count > 4) return error_at(text::kDerLengthTooLong, v.start);
    if (end_ - p < count) return error_at(text::kDerTruncated, v.start);
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | byte(p++);
    // Minimal: the long form only from 128 on, and no leading zero byte.
    if (length < 0x80 || (count > 1 && byte(p - count) == 0)) {
      return error_at(text::kDerLengthNotMinimal, v.start);
    }
  }
  if (end_ - p < length) return error_at(text::kDerTruncated, v.start);
  v.content = p;
  v.end = p + length;
  v.bytes = doc_.substr(v.content, length);
  pos_ = v.end;
  return v;
}

base::Result<Value> Reader::expect(std::uint8_t identifier, std::string_view name) {
  const std::size_t at = pos_;
  if (!at_end() && peek() != identifier) {
    std::string what(text::kDerUnexpectedTag);
    what += tag_text(peek());
    what += text::kDerExpected;
    what += name;
    return error_at(what, at);
  }
  return next();
}

bool oid_well_formed(std::string_view content) {
  if (content.empty()) return false;
  bool arc_start = true;
  for (const char ch : content) {
    const auto b = static_cast<std::uint8_t>(ch);
    if (arc_start && b == 0x80) return false;
    arc_start = !(b & 0x80);
  }
  return arc_start;
}

}  // namespace tovrel::identity::der
