#pragma once
// PEM armour (RFC 7468): the writer of the key files and the strict reader of both PEM files.

#include <string>
#include <string_view>

#include "base/result.h"
#include "crypto/secure.h"

namespace tovrel::identity {

// "-----BEGIN {label}-----\n", the base64 of `der` in lines of 64 characters each ending in
// LF, "-----END {label}-----\n". The text comes in a buffer that wipes itself, as the private
// key's must; pem_size() is its length.
crypto::SecretBytes pem_encode(std::string_view label, std::string_view der);
std::size_t pem_size(std::string_view label, std::size_t der_size);

struct PemDocument {
  std::string label;
  std::string der;  // the decoded body; a reader of a secret document takes it into SecretBytes
};

// The strict reading: LF, CR LF or CR line breaks; body lines of exactly 64 characters but the
// last; no header fields; a preamble without NUL allowed; at most one line break after the END
// line. The error is the PEM text that follows "PEM error: ".
base::Result<PemDocument> pem_decode(std::string_view text);

}  // namespace tovrel::identity
