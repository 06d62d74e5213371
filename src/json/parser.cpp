#include "json/parser.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "base/utf8.h"
#include "base/wipe.h"
#include "json/pow10.h"
#include "json/scan.h"

namespace tovrel::json {

namespace {

// Every message the parser can give; the text of each lives only here.
enum class Code {
  kEofValue,
  kEofString,
  kEofList,
  kEofObject,
  kExpectedValue,
  kExpectedIdent,
  kExpectedColon,
  kExpectedListCommaOrEnd,
  kExpectedObjectCommaOrEnd,
  kKeyMustBeString,
  kInvalidEscape,
  kInvalidNumber,
  kNumberOutOfRange,
  kInvalidUnicode,
  kControlCharacter,
  kLoneLeadingSurrogate,
  kUnexpectedEndOfHexEscape,
  kTrailingCharacters,
  kTrailingComma,
  kRecursionLimit,
};

constexpr std::string_view message(Code code) {
  switch (code) {
    case Code::kEofValue: return "EOF while parsing a value";
    case Code::kEofString: return "EOF while parsing a string";
    case Code::kEofList: return "EOF while parsing a list";
    case Code::kEofObject: return "EOF while parsing an object";
    case Code::kExpectedValue: return "expected value";
    case Code::kExpectedIdent: return "expected ident";
    case Code::kExpectedColon: return "expected `:`";
    case Code::kExpectedListCommaOrEnd: return "expected `,` or `]`";
    case Code::kExpectedObjectCommaOrEnd: return "expected `,` or `}`";
    case Code::kKeyMustBeString: return "key must be a string";
    case Code::kInvalidEscape: return "invalid escape";
    case Code::kInvalidNumber: return "invalid number";
    case Code::kNumberOutOfRange: return "number out of range";
    case Code::kInvalidUnicode: return "invalid unicode code point";
    case Code::kControlCharacter:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case Code::kLoneLeadingSurrogate: return "lone leading surrogate in hex escape";
    case Code::kUnexpectedEndOfHexEscape: return "unexpected end of hex escape";
    case Code::kTrailingCharacters: return "trailing characters";
    case Code::kTrailingComma: return "trailing comma";
    case Code::kRecursionLimit: return "recursion limit exceeded";
  }
  return "";
}

// Arrays and objects open at once; the 128th fails.
constexpr int kDepthLimit = 128;

constexpr bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// True when n * 10 + digit does not fit in `max`.
template <class T>
constexpr bool overflows(T n, T digit, T max) {
  return n >= max / 10 && (n > max / 10 || digit > max % 10);
}

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    const char b[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 2);
  } else if (cp < 0x10000) {
    const char b[3] = {static_cast<char>(0xE0 | (cp >> 12)),
                       static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 3);
  } else {
    const char b[4] = {
        static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
        static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 4);
  }
}

// A recursive-descent parser over one document held whole in memory, handing each part to a
// Handler as it is read. On failure it records
// the message and the offset at which it stopped, which give the reported line and column:
// `fail` reports the offset after the bytes consumed so far, `fail_peek` includes the byte
// it looked at without consuming.
class Parser {
 public:
  Parser(std::string_view text, Handler& handler)
      : s_(reinterpret_cast<const unsigned char*>(text.data())), n_(text.size()), h_(handler) {}
  // The strings read may be secrets (an envelope's payload): their decoded copy is wiped.
  ~Parser() { base::wipe(decoded_); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  base::Status run() {
    if (!value() || (skip_whitespace() != kEnd && !fail_peek(Code::kTrailingCharacters))) {
      return base::Error{error_text()};
    }
    return base::ok_status();
  }

 private:
  static constexpr int kEnd = -1;

  bool fail(Code code) {
    code_ = code;
    at_ = i_;
    return false;
  }
  bool fail_peek(Code code) {
    code_ = code;
    at_ = std::min(n_, i_ + 1);
    return false;
  }

  std::string error_text() const {
    std::size_t line_start = at_;
    while (line_start > 0 && s_[line_start - 1] != '\n') --line_start;
    const std::size_t line = 1 + static_cast<std::size_t>(std::count(
                                     s_, s_ + line_start, static_cast<unsigned char>('\n')));
    std::string text(message(code_));
    text += " at line ";
    text += std::to_string(line);
    text += " column ";
    text += std::to_string(at_ - line_start);
    return text;
  }

  unsigned char peek_or_null() const { return i_ < n_ ? s_[i_] : 0; }

  // The next byte that is not space, tab, LF or CR (not consumed), or kEnd.
  int skip_whitespace() {
    while (i_ < n_) {
      const unsigned char c = s_[i_];
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return c;
      ++i_;
    }
    return kEnd;
  }

  bool value() {
    const int c = skip_whitespace();
    switch (c) {
      case kEnd: return fail_peek(Code::kEofValue);
      case 'n':
        ++i_;
        if (!ident("ull")) return false;
        h_.null();
        return true;
      case 't':
        ++i_;
        if (!ident("rue")) return false;
        h_.boolean(true);
        return true;
      case 'f':
        ++i_;
        if (!ident("alse")) return false;
        h_.boolean(false);
        return true;
      case '-': ++i_; return number(false);
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': return number(true);
      case '"': {
        ++i_;
        std::string_view s;
        if (!string(s)) return false;
        h_.string(s);
        return true;
      }
      case '[':
      case '{': {
        if (--depth_ == 0) return fail_peek(Code::kRecursionLimit);
        ++i_;
        const bool ok = c == '[' ? array() : object();
        ++depth_;
        return ok;
      }
      default: return fail_peek(Code::kExpectedValue);
    }
  }

  bool ident(std::string_view rest) {
    for (const char expected : rest) {
      if (i_ >= n_) return fail(Code::kEofValue);
      if (s_[i_++] != static_cast<unsigned char>(expected)) return fail(Code::kExpectedIdent);
    }
    return true;
  }

  // After '[': elements up to and including ']'.
  bool array() {
    h_.begin_array();
    int c = skip_whitespace();
    if (c == ']') {
      ++i_;
      h_.end_array();
      return true;
    }
    if (c == kEnd) return fail_peek(Code::kEofList);
    for (;;) {
      if (!value()) return false;
      c = skip_whitespace();
      if (c == ']') break;
      if (c == kEnd) return fail_peek(Code::kEofList);
      if (c != ',') return fail_peek(Code::kExpectedListCommaOrEnd);
      ++i_;
      c = skip_whitespace();
      if (c == ']') return fail_peek(Code::kTrailingComma);
      if (c == kEnd) return fail_peek(Code::kEofValue);
    }
    ++i_;
    h_.end_array();
    return true;
  }

  // After '{': members up to and including '}'. A repeated key keeps its last value.
  bool object() {
    h_.begin_object();
    int c = skip_whitespace();
    if (c == '}') {
      ++i_;
      h_.end_object();
      return true;
    }
    if (c == kEnd) return fail_peek(Code::kEofObject);
    for (;;) {
      if (c != '"') return fail_peek(Code::kKeyMustBeString);
      ++i_;
      std::string_view key;
      if (!string(key)) return false;
      c = skip_whitespace();
      if (c != ':') return fail_peek(c == kEnd ? Code::kEofObject : Code::kExpectedColon);
      ++i_;
      h_.key(key);
      if (!value()) return false;
      c = skip_whitespace();
      if (c == '}') break;
      if (c == kEnd) return fail_peek(Code::kEofObject);
      if (c != ',') return fail_peek(Code::kExpectedObjectCommaOrEnd);
      ++i_;
      c = skip_whitespace();
      if (c == '}') return fail_peek(Code::kTrailingComma);
      if (c == kEnd) return fail_peek(Code::kEofValue);
    }
    ++i_;
    h_.end_object();
    return true;
  }

  // After '"': the characters up to and including the closing '"'. Bytes that are not UTF-8
  // are reported once the string has ended, so an earlier fault inside it wins. `out` views
  // the input when the string has no escape, the decoded copy otherwise; it is valid until the
  // next string is read.
  bool string(std::string_view& out) {
    std::size_t start = i_;
    bool invalid_utf8 = false;
    bool escaped = false;
    decoded_.clear();
    for (;;) {
      while (i_ < n_) {
        i_ += scan::find_special<true>(s_ + i_, n_ - i_);
        if (i_ == n_ || s_[i_] < 0x80) break;  // the end, '"', '\\' or a control character
        std::size_t maximal = 1;
        const std::size_t len = base::utf8_sequence_length(
            std::string_view(reinterpret_cast<const char*>(s_ + i_), n_ - i_), &maximal);
        if (len == 0) {
          invalid_utf8 = true;
          i_ += maximal;
        } else {
          i_ += len;
        }
      }
      if (i_ == n_) return fail(Code::kEofString);
      const unsigned char c = s_[i_];
      const std::string_view piece(reinterpret_cast<const char*>(s_ + start), i_ - start);
      ++i_;
      if (c == '"') {
        if (escaped) {
          decoded_.append(piece);
          out = decoded_;
        } else {
          out = piece;
        }
        return !invalid_utf8 || fail(Code::kInvalidUnicode);
      }
      if (c != '\\') return fail(Code::kControlCharacter);
      escaped = true;
      decoded_.append(piece);
      if (!escape(decoded_)) return false;
      start = i_;
    }
  }

  // After '\\'.
  bool escape(std::string& out) {
    if (i_ >= n_) return fail(Code::kEofString);
    switch (s_[i_++]) {
      case '"': out += '"'; return true;
      case '\\': out += '\\'; return true;
      case '/': out += '/'; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': return unicode_escape(out);
      default: return fail(Code::kInvalidEscape);
    }
  }

  // After "\\u": one code unit, or a surrogate pair written as two escapes.
  bool unicode_escape(std::string& out) {
    std::uint32_t high;
    if (!hex4(high)) return false;
    if (high >= 0xDC00 && high <= 0xDFFF) return fail(Code::kLoneLeadingSurrogate);
    if (high < 0xD800 || high > 0xDBFF) {
      append_utf8(high, out);
      return true;
    }
    for (const char expected : {'\\', 'u'}) {
      if (i_ >= n_) return fail(Code::kEofString);
      if (s_[i_++] != static_cast<unsigned char>(expected)) {
        return fail(Code::kUnexpectedEndOfHexEscape);
      }
    }
    std::uint32_t low;
    if (!hex4(low)) return false;
    if (low < 0xDC00 || low > 0xDFFF) return fail(Code::kLoneLeadingSurrogate);
    append_utf8(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00), out);
    return true;
  }

  bool hex4(std::uint32_t& out) {
    if (n_ - i_ < 4) {
      i_ = n_;
      return fail(Code::kEofString);
    }
    int v = 0;
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
      const int h = hex_value(s_[i_ + static_cast<std::size_t>(k)]);
      ok = ok && h >= 0;
      v = (v << 4) | (h & 0xF);
    }
    i_ += 4;
    if (!ok) return fail(Code::kInvalidEscape);
    out = static_cast<std::uint32_t>(v);
    return true;
  }

  // Numbers: the digits go into a 64-bit significand while they fit, the rest moves the
  // decimal exponent; the double is the significand times or divided by a power of ten. This
  // exact reading decides content addresses, so it must not be "improved".
  bool number(bool positive) {
    if (i_ >= n_) return fail(Code::kEofValue);
    const unsigned char first = s_[i_++];
    std::uint64_t significand = 0;
    if (first == '0') {
      if (is_digit(peek_or_null())) return fail_peek(Code::kInvalidNumber);
    } else if (is_digit(first)) {
      significand = first - '0';
      for (unsigned char c; is_digit(c = peek_or_null());) {
        const std::uint64_t digit = c - '0';
        if (overflows(significand, digit, std::numeric_limits<std::uint64_t>::max())) {
          std::int64_t exponent = 0;
          while (is_digit(peek_or_null())) {
            ++i_;
            ++exponent;
          }
          return fraction_or_exponent(positive, significand, exponent);
        }
        ++i_;
        significand = significand * 10 + digit;
      }
    } else {
      return fail(Code::kInvalidNumber);
    }
    const unsigned char c = peek_or_null();
    if (c == '.' || c == 'e' || c == 'E') {
      return fraction_or_exponent(positive, significand, 0);
    }
    if (positive) {
      h_.u64(significand);
    } else if (significand == 0 || significand > (std::uint64_t{1} << 63)) {
      // -0 and magnitudes beyond the signed range become doubles.
      h_.f64(-static_cast<double>(significand));
    } else {
      h_.i64(static_cast<std::int64_t>(0 - significand));
    }
    return true;
  }

  bool fraction_or_exponent(bool positive, std::uint64_t significand, std::int64_t exponent) {
    const unsigned char c = peek_or_null();
    if (c == '.') return fraction(positive, significand, exponent);
    if (c == 'e' || c == 'E') return exponent_part(positive, significand, exponent);
    return from_parts(positive, significand, exponent);
  }

  // At '.'.
  bool fraction(bool positive, std::uint64_t significand, std::int64_t exponent) {
    ++i_;
    std::int64_t digits = 0;
    for (unsigned char c; is_digit(c = peek_or_null());) {
      const std::uint64_t digit = c - '0';
      if (overflows(significand, digit, std::numeric_limits<std::uint64_t>::max())) {
        while (is_digit(peek_or_null())) ++i_;
        const unsigned char e = peek_or_null();
        if (e == 'e' || e == 'E') return exponent_part(positive, significand, exponent - digits);
        return from_parts(positive, significand, exponent - digits);
      }
      ++i_;
      significand = significand * 10 + digit;
      ++digits;
    }
    if (digits == 0) {
      return fail_peek(i_ < n_ ? Code::kInvalidNumber : Code::kEofValue);
    }
    const unsigned char e = peek_or_null();
    if (e == 'e' || e == 'E') return exponent_part(positive, significand, exponent - digits);
    return from_parts(positive, significand, exponent - digits);
  }

  // At 'e' or 'E'.
  bool exponent_part(bool positive, std::uint64_t significand, std::int64_t start) {
    ++i_;
    bool positive_exp = true;
    if (peek_or_null() == '+') {
      ++i_;
    } else if (peek_or_null() == '-') {
      ++i_;
      positive_exp = false;
    }
    if (i_ >= n_) return fail(Code::kEofValue);
    const unsigned char first = s_[i_++];
    if (!is_digit(first)) return fail(Code::kInvalidNumber);
    std::int32_t exp = first - '0';
    for (unsigned char c; is_digit(c = peek_or_null());) {
      ++i_;
      const std::int32_t digit = c - '0';
      if (overflows(exp, digit, std::numeric_limits<std::int32_t>::max())) {
        // Too many digits for any finite non-zero value.
        if (significand != 0 && positive_exp) return fail(Code::kNumberOutOfRange);
        while (is_digit(peek_or_null())) ++i_;
        h_.f64(positive ? 0.0 : -0.0);
        return true;
      }
      exp = exp * 10 + digit;
    }
    return from_parts(positive, significand, positive_exp ? start + exp : start - exp);
  }

  bool from_parts(bool positive, std::uint64_t significand, std::int64_t exponent64) {
    std::int32_t exponent = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(exponent64, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()));
    double f = static_cast<double>(significand);
    for (;;) {
      const std::uint32_t magnitude = exponent < 0 ? 0u - static_cast<std::uint32_t>(exponent)
                                                   : static_cast<std::uint32_t>(exponent);
      if (magnitude < kPow10Count) {
        if (exponent >= 0) {
          f *= kPow10[magnitude];
          if (std::isinf(f)) return fail(Code::kNumberOutOfRange);
        } else {
          f /= kPow10[magnitude];
        }
        break;
      }
      if (f == 0) break;
      if (exponent >= 0) return fail(Code::kNumberOutOfRange);
      f /= 1e308;
      exponent += 308;
    }
    h_.f64(positive ? f : -f);
    return true;
  }

  const unsigned char* s_;
  std::size_t n_;
  Handler& h_;
  std::string decoded_;  // the current string, when it holds escapes
  std::size_t i_ = 0;
  int depth_ = kDepthLimit;
  Code code_ = Code::kEofValue;
  std::size_t at_ = 0;
};

}  // namespace

base::Status parse(std::string_view bytes, Handler& handler) {
  return Parser(bytes, handler).run();
}

base::Result<JsonValue> parse(std::string_view bytes) {
  ValueBuilder builder;
  base::Status parsed = parse(bytes, builder);
  if (!parsed) return std::move(parsed).take_error();
  return builder.take();
}

}  // namespace tovrel::json
