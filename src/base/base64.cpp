#include "base/base64.h"

#include <array>
#include <cstdint>

namespace tovrel::base {

namespace {

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::uint8_t kInvalid = 0xFF;

using Table = std::array<std::uint8_t, 256>;

constexpr Table make_table(const char* alphabet) {
  Table t{};
  for (auto& v : t) v = kInvalid;
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
  return t;
}

constexpr Table kStandardTable = make_table(kStandard);
constexpr Table kUrlTable = make_table(kUrl);

// The decoder's error texts, the only place they are spelled.
Error invalid_symbol(unsigned char byte, std::size_t offset) {
  return Error{"Invalid symbol " + std::to_string(byte) + ", offset " + std::to_string(offset) + "."};
}
Error invalid_length(std::size_t n) { return Error{"Invalid input length: " + std::to_string(n)}; }
Error invalid_last_symbol(unsigned char byte, std::size_t offset) {
  return Error{"Invalid last symbol " + std::to_string(byte) + ", offset " + std::to_string(offset) +
               "."};
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

// Decodes `data`, which holds only alphabet symbols, of a length whose remainder mod 4 is not 1.
// The unused low bits of a final partial group must be zero.
Result<std::string> decode_symbols(std::string_view data, const Table& table) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const std::size_t n = data.size();
  const std::size_t rest = n % 4;
  if (rest == 2 && (table[p[n - 1]] & 0x0F) != 0) return invalid_last_symbol(p[n - 1], n - 1);
  if (rest == 3 && (table[p[n - 1]] & 0x03) != 0) return invalid_last_symbol(p[n - 1], n - 1);
  std::string out;
  out.reserve(n / 4 * 3 + 2);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t v = (std::uint32_t{table[p[i]]} << 18) | (std::uint32_t{table[p[i + 1]]} << 12) |
                            (std::uint32_t{table[p[i + 2]]} << 6) | table[p[i + 3]];
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
  }
  if (rest >= 2) {
    std::uint32_t v = (std::uint32_t{table[p[i]]} << 18) | (std::uint32_t{table[p[i + 1]]} << 12);
    if (rest == 3) v |= std::uint32_t{table[p[i + 2]]} << 6;
    out += static_cast<char>(v >> 16);
    if (rest == 3) out += static_cast<char>(v >> 8);
  }
  return out;
}

// Finds the first byte outside the alphabet. Returns text.size() when there is none; sets
// `trailing_padding` when that byte starts a run of '=' that reaches the end of the text.
std::size_t first_non_symbol(std::string_view text, const Table& table, bool* trailing_padding) {
  *trailing_padding = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (table[static_cast<unsigned char>(text[i])] != kInvalid) continue;
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

Result<std::string> base64_decode(std::string_view text) {
  bool padded = false;
  const std::size_t end = first_non_symbol(text, kStandardTable, &padded);
  if (end < text.size() && !padded) {
    return invalid_symbol(static_cast<unsigned char>(text[end]), end);
  }
  if (text.size() % 4 != 0) return invalid_length(text.size());
  const std::size_t pad = text.size() - end;
  // Padding completes the final group: "xx==" or "xxx=", never more.
  if (pad > 2 || (pad > 0 && end % 4 != 4 - pad)) return invalid_padding();
  return decode_symbols(text.substr(0, end), kStandardTable);
}

Result<std::string> base64url_decode(std::string_view text) {
  bool padded = false;
  const std::size_t end = first_non_symbol(text, kUrlTable, &padded);
  if (end < text.size()) {
    if (padded) return invalid_padding();
    return invalid_symbol(static_cast<unsigned char>(text[end]), end);
  }
  if (text.size() % 4 == 1) return invalid_length(text.size());
  return decode_symbols(text, kUrlTable);
}

Result<std::string> base64url_decode_stripped(std::string_view text) {
  const std::size_t last = text.find_last_not_of('=');
  return base64url_decode(last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1));
}

}  // namespace tovrel::base
