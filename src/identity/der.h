#pragma once
// A minimal DER reader: identifier and definite length of one value at a time, with the byte
// offsets its errors name (" at DER byte {offset}", counted from the document's first byte).

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tovrel::identity::der {

inline constexpr std::uint8_t kClassUniversal = 0x00;
inline constexpr std::uint8_t kClassContext = 0x80;

// Universal tags as their one identifier byte.
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kOid = 0x06;
inline constexpr std::uint8_t kSequence = 0x30;

struct Value {
  std::uint8_t cls = 0;  // the two class bits, as kClassUniversal etc.
  bool constructed = false;
  std::uint32_t number = 0;     // tag number
  std::uint8_t identifier = 0;  // the first identifier byte
  std::size_t start = 0;        // offset of the identifier
  std::size_t content = 0;      // offset of the content
  std::size_t end = 0;          // offset just past the content
  std::string_view bytes;       // the content
};

// "{what} at DER byte {offset}".
base::Error error_at(std::string_view what, std::size_t offset);

class Reader {
 public:
  // Reads doc[begin, end); offsets stay those of `doc`.
  Reader(std::string_view doc, std::size_t begin, std::size_t end)
      : doc_(doc), pos_(begin), end_(end) {}
  explicit Reader(std::string_view doc) : Reader(doc, 0, doc.size()) {}
  Reader(std::string_view doc, const Value& inside) : Reader(doc, inside.content, inside.end) {}

  bool at_end() const { return pos_ >= end_; }
  std::size_t offset() const { return pos_; }
  // Peeks at the next identifier byte; at_end() must be false.
  std::uint8_t peek() const { return static_cast<std::uint8_t>(doc_[pos_]); }

  // The next value, which must fit before the end of this reader's range.
  base::Result<Value> next();
  // The next value, which must carry the one identifier byte `identifier` (named `name`).
  base::Result<Value> expect(std::uint8_t identifier, std::string_view name);

 private:
  std::string_view doc_;
  std::size_t pos_;
  std::size_t end_;
};

// The tag of `identifier` as text, e.g. "0x04".
std::string tag_text(std::uint8_t identifier);

// Well-formed OBJECT IDENTIFIER content: non-empty, no arc with a leading 0x80 byte, the last
// byte ending its arc.
bool oid_well_formed(std::string_view content);

}  // namespace tovrel::identity::der
