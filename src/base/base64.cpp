#include "base/base64.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/wipe.h"

namespace tovrel::base {

namespace {

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Decoding tables, one per position in a group of four symbols: each symbol's six bits already
// in their place in the group's 24 bits, and kNotSymbol for a byte outside the alphabet, so
// that a group decodes with four loads and three ORs and one test tells whether all was valid.
constexpr std::uint32_t kNotSymbol = std::uint32_t{1} << 31;

struct Tables {
  std::array<std::array<std::uint32_t, 256>, 4> at;
  // The value of `symbol` (0-63), or kNotSymbol.
  constexpr std::uint32_t value(unsigned char symbol) const { return at[3][symbol]; }
};

constexpr Tables make_tables(const char* alphabet) {
  Tables t{};
  for (auto& row : t.at) row.fill(kNotSymbol);
  for (std::uint32_t i = 0; i < 64; ++i) {
    for (std::size_t k = 0; k < 4; ++k)
      t.at[k][static_cast<unsigned char>(alphabet[i])] = i << (18 - 6 * k);
  }
  return t;
}

constexpr Tables kStandardTables = make_tables(kStandard);
constexpr Tables kUrlTables = make_tables(kUrl);

// The decoder's error texts, the only place they are spelled.
Error invalid_symbol(unsigned char byte, std::size_t offset) {
  return Error{"Invalid symbol " + std::to_string(byte) + ", offset " + std::to_string(offset) +
               "."};
}
Error invalid_length(std::size_t n) { return Error{"Invalid input length: " + std::to_string(n)}; }
Error invalid_last_symbol(unsigned char byte, std::size_t offset) {
  return Error{"Invalid last symbol " + std::to_string(byte) + ", offset " +
               std::to_string(offset) + "."};
}
Error invalid_padding() { return Error{"Invalid padding"}; }

std::string encode(std::string_view bytes, const char* alphabet, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8) | p[i + 2];
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    const std::uint32_t v = std::uint32_t{p[i]} << 16;
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    if (pad) out += "==";
  } else if (rest == 2) {
    const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    if (pad) out += '=';
  }
  return out;
}

// The decoded bytes may be a secret (a private key's DER, a box key): every buffer that held
// them is wiped, and the output lives on the heap (base::reserve_on_heap), so that handing it
// on moves the one buffer.

// Decodes `symbols` onto `out`, whole groups of four and then a final group of two or three
// (a final single symbol is only checked). False when a byte is outside the alphabet; `out`
// then holds garbage.
bool decode_symbols(std::string_view symbols, const Tables& t, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(symbols.data());
  const std::size_t n = symbols.size();
  reserve_on_heap(out, n / 4 * 3 + 2);
  // Groups go through a small buffer, whole words stored and only their leading bytes kept, so
  // that the string neither zero-fills nor checks its capacity per byte.
  char buf[3 * 256 + 2];
  std::size_t used = 0;
  std::uint32_t seen = 0;  // kNotSymbol once any byte is not a symbol
  std::size_t i = 0;
  const auto group = [&](std::size_t at) {
    return t.at[0][p[at]] | t.at[1][p[at + 1]] | t.at[2][p[at + 2]] | t.at[3][p[at + 3]];
  };
  static_assert(std::endian::native == std::endian::little);
  // Two groups a step: six bytes from one eight-byte store.
  for (; i + 8 <= n; i += 8) {
    const std::uint32_t a = group(i);
    const std::uint32_t b = group(i + 4);
    seen |= a | b;
    const std::uint64_t bytes =
        __builtin_bswap64((std::uint64_t{a} << 40) | (std::uint64_t{b} << 16));
    std::memcpy(buf + used, &bytes, 8);
    used += 6;
    if (used == 3 * 256) {
      out.append(buf, used);
      used = 0;
    }
  }
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t v = group(i);
    seen |= v;
    const std::uint32_t bytes = __builtin_bswap32(v << 8);  // the three bytes first, in order
    std::memcpy(buf + used, &bytes, 4);
    used += 3;
  }
  out.append(buf, used);
  const std::size_t rest = n - i;
  if (rest == 1) seen |= t.at[0][p[i]];
  if (rest >= 2) {
    std::uint32_t v = t.at[0][p[i]] | t.at[1][p[i + 1]];
    if (rest == 3) v |= t.at[2][p[i + 2]];
    seen |= v;
    out += static_cast<char>(v >> 16);
    if (rest == 3) out += static_cast<char>(v >> 8);
  }
  wipe(buf, sizeof buf);
  return (seen & kNotSymbol) == 0;
}

// The unused low bits of a final partial group must be zero. `symbols` are all in the
// alphabet.
Status check_last_symbol(std::string_view symbols, const Tables& t) {
  const std::size_t n = symbols.size();
  const std::uint32_t unused_bits = n % 4 == 2 ? 0x0F : n % 4 == 3 ? 0x03 : 0;
  const unsigned char last = n ? static_cast<unsigned char>(symbols[n - 1]) : 0;
  if ((t.value(last) & unused_bits) != 0) return invalid_last_symbol(last, n - 1);
  return ok_status();
}

// Finds the first byte outside the alphabet. Returns text.size() when there is none; sets
// `trailing_padding` when that byte starts a run of '=' that reaches the end of the text.
std::size_t first_non_symbol(std::string_view text, const Tables& t, bool* trailing_padding) {
  *trailing_padding = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (t.value(static_cast<unsigned char>(text[i])) != kNotSymbol) continue;
    if (text[i] == '=' && text.find_first_not_of('=', i) == std::string_view::npos) {
      *trailing_padding = true;
    }
    return i;
  }
  return text.size();
}

}  // namespace

std::string base64_encode(std::string_view bytes) { return encode(bytes, kStandard, true); }

std::string base64url_encode(std::string_view bytes) { return encode(bytes, kUrl, false); }

// The errors are looked for in a fixed order: a byte outside the alphabet, the length, the
// padding, the last symbol. Valid text is decoded in one pass; the search for the first bad
// byte runs only when that pass met one.

Result<std::string> base64_decode(std::string_view text) {
  const std::size_t last = text.find_last_not_of('=');
  const std::size_t end = last == std::string_view::npos ? 0 : last + 1;
  const std::string_view symbols = text.substr(0, end);
  std::string out;
  const auto failed = [&out](Error e) {
    wipe(out);
    return e;
  };
  if (!decode_symbols(symbols, kStandardTables, out)) {
    bool padded = false;
    const std::size_t at = first_non_symbol(text, kStandardTables, &padded);
    return failed(invalid_symbol(static_cast<unsigned char>(text[at]), at));
  }
  if (text.size() % 4 != 0) return failed(invalid_length(text.size()));
  const std::size_t pad = text.size() - end;
  // Padding completes the final group: "xx==" or "xxx=", never more.
  if (pad > 2 || (pad > 0 && end % 4 != 4 - pad)) return failed(invalid_padding());
  if (Status s = check_last_symbol(symbols, kStandardTables); !s) {
    return failed(std::move(s).take_error());
  }
  return out;
}

Result<std::string> base64url_decode(std::string_view text) {
  std::string out;
  const auto failed = [&out](Error e) {
    wipe(out);
    return e;
  };
  if (!decode_symbols(text, kUrlTables, out)) {
    bool padded = false;
    const std::size_t at = first_non_symbol(text, kUrlTables, &padded);
    if (padded) return failed(invalid_padding());
    return failed(invalid_symbol(static_cast<unsigned char>(text[at]), at));
  }
  if (text.size() % 4 == 1) return failed(invalid_length(text.size()));
  if (Status s = check_last_symbol(text, kUrlTables); !s) return failed(std::move(s).take_error());
  return out;
}

Result<std::string> base64url_decode_stripped(std::string_view text) {
  const std::size_t last = text.find_last_not_of('=');
  return base64url_decode(last == std::string_view::npos ? std::string_view()
                                                         : text.substr(0, last + 1));
}

}  // namespace tovrel::base
