#include "identity/pem.h"

#include "base/base64.h"
#include "base/os_error.h"
#include "base/wipe.h"
#include "identity/messages.h"

namespace tovrel::identity {

namespace {

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kEnd = "-----END ";
constexpr std::string_view kDashes = "-----";
constexpr std::string_view kLineBreak = "\n";
constexpr std::size_t kLineLength = 64;

base::Error fail(std::string_view text) { return base::Error{std::string(text)}; }
base::Error base64_fail(std::string_view text) {
  return base::Error{base::with_cause(text::kPemBase64, text)};
}

bool is_label_char(unsigned char c) { return c >= 0x21 && c <= 0x7E && c != '-'; }

// Length of the line break at `pos` (CR LF, LF or CR), 0 when there is none.
std::size_t line_break_at(std::string_view s, std::size_t pos) {
  if (pos >= s.size()) return 0;
  if (s[pos] == '\r') return pos + 1 < s.size() && s[pos + 1] == '\n' ? 2 : 1;
  return s[pos] == '\n' ? 1 : 0;
}

// Finds "-----BEGIN " at the start of the text or right after a LF.
std::size_t find_begin(std::string_view text) {
  for (std::size_t pos = 0;; ++pos) {
    pos = text.find(kBegin, pos);
    if (pos == std::string_view::npos) return pos;
    if (pos == 0 || text[pos - 1] == '\n') return pos;
  }
}

// The body lines joined, checked for layout: lines of 64 characters, a final one of 1 to 64.
// The caller wipes the text; a failure wipes what was joined.
base::Result<std::string> join_body(std::string_view body, bool text_has_colon) {
  // Characters first, so that a header field ("Name: value") is named as such.
  for (const char c : body) {
    const bool base64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
    if (!base64 && c != '\r' && c != '\n') {
      return text_has_colon ? fail(text::kPemHeaders) : base64_fail(text::kBase64Encoding);
    }
  }
  std::string joined;
  base::reserve_on_heap(joined, body.size());
  std::size_t pos = 0;
  while (pos < body.size()) {
    std::size_t end = pos;
    while (end < body.size() && body[end] != '\r' && body[end] != '\n') ++end;
    const std::size_t len = end - pos;
    const std::size_t brk = line_break_at(body, end);
    const bool last = end + brk >= body.size();
    // Every line but the last holds exactly 64 characters; a line break ends the body only
    // when the END line follows, which the caller has already cut off.
    if (len == 0 || len > kLineLength || (!last && len != kLineLength) || (last && brk != 0)) {
      base::wipe(joined);
      return base64_fail(text::kBase64Length);
    }
    joined.append(body.substr(pos, len));
    pos = end + brk;
  }
  return joined;
}

}  // namespace

std::size_t pem_size(std::string_view label, std::size_t der_size) {
  const std::size_t chars = (der_size + 2) / 3 * 4;
  const std::size_t lines = (chars + kLineLength - 1) / kLineLength;
  return kBegin.size() + label.size() + kDashes.size() + 1 + chars + lines + kEnd.size() +
         label.size() + kDashes.size() + 1;
}

crypto::SecretBytes pem_encode(std::string_view label, std::string_view der) {
  crypto::SecretBytes out;
  out.reserve(pem_size(label, der.size()));
  for (const std::string_view part : {kBegin, label, kDashes, kLineBreak}) out.append(part);
  // Line by line, each line's temporary wiped with it: the document may be secret.
  for (std::size_t i = 0; i < der.size(); i += kLineLength / 4 * 3) {
    const crypto::SecretBytes line(base::base64_encode(der.substr(i, kLineLength / 4 * 3)));
    out.append(line.view());
    out.append(kLineBreak);
  }
  for (const std::string_view part : {kEnd, label, kDashes, kLineBreak}) out.append(part);
  return out;
}

base::Result<PemDocument> pem_decode(std::string_view text) {
  const std::size_t begin = find_begin(text);
  if (begin == std::string_view::npos ||
      text.substr(0, begin).find('\0') != std::string_view::npos) {
    return fail(text::kPemPreamble);
  }
  // Label: printable characters other than '-', single blanks or tabs between them.
  std::size_t pos = begin + kBegin.size();
  const std::size_t label_start = pos;
  while (pos < text.size() && text[pos] != '-') {
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c == ' ' || c == '\t') {
      const bool after_char =
          pos > label_start && is_label_char(static_cast<unsigned char>(text[pos - 1]));
      const bool before_char =
          pos + 1 < text.size() && is_label_char(static_cast<unsigned char>(text[pos + 1]));
      if (!after_char || !before_char) return fail(text::kPemLabel);
    } else if (!is_label_char(c)) {
      return fail(text::kPemLabel);
    }
    ++pos;
  }
  const std::string_view label = text.substr(label_start, pos - label_start);
  if (text.substr(pos, kDashes.size()) != kDashes) return fail(text::kPemLabel);
  pos += kDashes.size();
  const std::size_t begin_break = line_break_at(text, pos);
  if (begin_break == 0) return fail(text::kPemLabel);
  pos += begin_break;

  // One final line break is set aside; the rest must end with the END line.
  std::string_view rest = text.substr(pos);
  if (rest.ends_with("\r\n")) {
    rest.remove_suffix(2);
  } else if (rest.ends_with('\n') || rest.ends_with('\r')) {
    rest.remove_suffix(1);
  }
  if (!rest.ends_with(kDashes)) return fail(text::kPemPreBoundary);
  std::string end_line;
  end_line.append(kEnd).append(label).append(kDashes);
  if (!rest.ends_with(end_line)) return fail(text::kPemPostBoundary);
  std::string_view body = rest.substr(0, rest.size() - end_line.size());
  // The END line needs a line break of its own before it.
  if (body.ends_with("\r\n")) {
    body.remove_suffix(2);
  } else if (body.ends_with('\n') || body.ends_with('\r')) {
    body.remove_suffix(1);
  } else {
    return fail(text::kPemPostBoundary);
  }
  if (body.empty()) return base64_fail(text::kBase64Length);

  auto joined = join_body(body, text.find(':') != std::string_view::npos);
  if (!joined) return std::move(joined).take_error();
  // The joined text is as secret as the document it encodes.
  if (joined->size() % 4 != 0) {
    base::wipe(*joined);
    return base64_fail(text::kBase64Length);
  }
  auto der = base::base64_decode(*joined);
  base::wipe(*joined);
  if (!der) {
    return text.find(':') != std::string_view::npos ? fail(text::kPemHeaders)
                                                    : base64_fail(text::kBase64Encoding);
  }
  return PemDocument{std::string(label), std::move(*der)};
}

}  // namespace tovrel::identity
