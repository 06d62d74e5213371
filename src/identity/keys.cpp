#include "identity/keys.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "base/os_error.h"
#include "identity/der.h"
#include "identity/messages.h"
#include "identity/pem.h"

namespace tovrel::identity {

namespace {

// The fixed bytes: everything before the seed, between seed and public key, and before the
// public key of the SubjectPublicKeyInfo.
constexpr char kPrivatePrefix[] =
    "\x30\x51\x02\x01\x01\x30\x05\x06\x03\x2B\x65\x70\x04\x22\x04\x20";
constexpr char kPrivateMiddle[] = "\x81\x21\x00";
constexpr char kPublicPrefix[] = "\x30\x2A\x30\x05\x06\x03\x2B\x65\x70\x03\x21\x00";
constexpr std::string_view kEd25519OidContent = "\x2B\x65\x70";
constexpr std::string_view kCurvePrivateKeyPrefix = "\x04\x20";

std::string_view as_view(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string quoted(std::string_view label) { return "\"" + std::string(label) + "\""; }

std::string pem_error(std::string_view pem_text) { return base::with_cause(text::kPem, pem_text); }

// The parts of an AlgorithmIdentifier that the profile looks at.
struct Algorithm {
  std::string_view oid;
  bool has_parameters = false;
};

// SEQUENCE { OBJECT IDENTIFIER, at most one further value }.
base::Result<Algorithm> read_algorithm(std::string_view doc, der::Reader& outer) {
  auto seq = outer.expect(der::kSequence, text::kDerSequence);
  if (!seq) return std::move(seq).take_error();
  der::Reader r(doc, *seq);
  auto oid = r.expect(der::kOid, text::kDerOid);
  if (!oid) return std::move(oid).take_error();
  if (oid->bytes.size() > 39) return der::error_at(text::kDerOidTooLong, oid->start);
  if (!der::oid_well_formed(oid->bytes)) return der::error_at(text::kDerOidMalformed, oid->start);
  Algorithm out{oid->bytes, false};
  if (!r.at_end()) {
    auto params = r.next();
    if (!params) return std::move(params).take_error();
    out.has_parameters = true;
  }
  if (!r.at_end()) return der::error_at(text::kDerAlgorithmExtra, r.offset());
  return out;
}

// Rules shared by both documents: PEM, exactly one SEQUENCE, then the label.
base::Result<der::Value> read_outer(std::string_view doc, std::string_view found_label,
                                    std::string_view label, std::string_view prefix) {
  der::Reader whole(doc);
  auto seq = whole.expect(der::kSequence, text::kDerSequence);
  if (!seq) return base::Error{base::with_cause(prefix, seq.error())};
  if (!whole.at_end()) {
    return base::Error{
        base::with_cause(prefix, der::error_at(text::kDerTrailing, whole.offset()).text)};
  }
  if (found_label != label) {
    return base::Error{
        base::with_cause(prefix, pem_error(std::string(text::kUnexpectedLabel) + quoted(label)))};
  }
  return seq;
}

std::string unknown_oid() { return base::with_cause(text::kUnknownOid, text::kEd25519Oid); }

}  // namespace

crypto::SecretBytes private_key_der(std::span<const std::uint8_t, crypto::kEd25519SeedSize> seed,
                                    const crypto::Ed25519PublicKey& public_key) {
  crypto::SecretBytes out;
  out.reserve(kPrivateKeyDerSize);
  out.append({kPrivatePrefix, sizeof kPrivatePrefix - 1});
  out.append(as_view(seed));
  out.append({kPrivateMiddle, sizeof kPrivateMiddle - 1});
  out.append(as_view(public_key));
  return out;
}

std::string public_key_der(const crypto::Ed25519PublicKey& public_key) {
  std::string out(kPublicPrefix, sizeof kPublicPrefix - 1);
  out.append(as_view(public_key));
  return out;
}

base::Result<crypto::Ed25519SigningKey> read_private_key(std::string_view pem_text) {
  const std::string_view prefix = text::kPkcs8Asn1;
  auto fail = [&](std::string cause) { return base::Error{base::with_cause(prefix, cause)}; };
  auto pem = pem_decode(pem_text);
  if (!pem) return fail(pem_error(pem.error()));
  const crypto::SecretBytes secret_der(std::move(pem->der));
  const std::string_view doc = secret_der.view();
  auto outer = read_outer(doc, pem->label, kPrivateKeyLabel, prefix);
  if (!outer) return std::move(outer).take_error();
  der::Reader r(doc, *outer);

  // Structure of the OneAsymmetricKey.
  auto version = r.expect(der::kInteger, text::kDerInteger);
  if (!version) return fail(version.error());
  const std::string_view v = version->bytes;
  if (v.empty() || (v.size() > 1 && ((v[0] == 0 && !(v[1] & 0x80)) ||
                                     (static_cast<std::uint8_t>(v[0]) == 0xFF && (v[1] & 0x80))))) {
    return fail(der::error_at(text::kDerIntegerNotMinimal, version->start).text);
  }
  if (v.size() != 1 || (v[0] != 0 && v[0] != 1)) {
    return fail(der::error_at(text::kDerUnsupportedVersion, version->start).text);
  }
  const bool version2 = v[0] == 1;
  auto algorithm = read_algorithm(doc, r);
  if (!algorithm) return fail(algorithm.error());
  auto private_key = r.expect(der::kOctetString, text::kDerOctetString);
  if (!private_key) return fail(private_key.error());
  std::size_t last_end = private_key->end;
  // Attributes, [0], skipped unread.
  while (!r.at_end() && (r.peek() & 0xDF) == (der::kClassContext | 0)) {
    auto attributes = r.next();
    if (!attributes) return fail(attributes.error());
    last_end = attributes->end;
  }
  std::optional<std::string_view> public_key;
  if (!r.at_end() && r.peek() == (der::kClassContext | 1)) {
    auto field = r.next();
    if (!field) return fail(field.error());
    if (field->bytes.empty())
      return fail(der::error_at(text::kDerBitStringMalformed, field->start).text);
    if (field->bytes[0] != 0)
      return fail(der::error_at(text::kDerBitStringUnused, field->start).text);
    public_key = field->bytes.substr(1);
    last_end = field->end;
  }
  if (version2 != public_key.has_value()) {
    return fail(der::error_at(text::kDerPublicKeyMismatch, last_end).text);
  }
  // Later extensions: context-specific constructed fields of one value each, skipped.
  while (!r.at_end()) {
    const std::size_t at = r.offset();
    auto field = r.next();
    if (!field) return fail(field.error());
    if (field->cls != der::kClassContext || !field->constructed) {
      return fail(der::error_at(text::kDerExtraField, at).text);
    }
    der::Reader inner(doc, *field);
    auto one = inner.next();
    if (!one || !inner.at_end()) return fail(der::error_at(text::kDerFieldNotOneValue, at).text);
  }

  // The Ed25519 profile.
  if (algorithm->oid != kEd25519OidContent) {
    return base::Error{base::with_cause(text::kPublicKeyError, unknown_oid())};
  }
  if (algorithm->has_parameters) return base::Error{std::string(text::kPkcs8Parameters)};
  const std::string_view key_data = private_key->bytes;
  if (key_data.size() != 2 + crypto::kEd25519SeedSize ||
      !key_data.starts_with(kCurvePrivateKeyPrefix)) {
    return base::Error{std::string(text::kPkcs8KeyData)};
  }
  if (public_key && public_key->size() != crypto::kEd25519PublicKeySize) {
    return base::Error{std::string(text::kPkcs8KeyData)};
  }

  // Consistency: the stored public key must be the one the seed gives, byte for byte.
  const auto* seed = reinterpret_cast<const std::uint8_t*>(key_data.data() + 2);
  auto key = crypto::Ed25519SigningKey::from_seed(
      std::span<const std::uint8_t, crypto::kEd25519SeedSize>(seed, crypto::kEd25519SeedSize));
  if (!key) return std::move(key).take_error();
  // The derived key is a point's encoding, so a stored key equal to it decodes: the equality
  // alone decides both the decoding rule and the consistency rule, which share their text.
  if (public_key && as_view(key->public_key()) != *public_key) {
    return base::Error{std::string(text::kPkcs8KeyData)};
  }
  return key;
}

base::Result<crypto::Ed25519PublicKey> read_public_key(std::string_view pem_text) {
  const std::string_view prefix = text::kAsn1;
  auto fail = [&](std::string cause) { return base::Error{base::with_cause(prefix, cause)}; };
  auto pem = pem_decode(pem_text);
  if (!pem) return fail(pem_error(pem.error()));
  const std::string_view doc = pem->der;
  auto outer = read_outer(doc, pem->label, kPublicKeyLabel, prefix);
  if (!outer) return std::move(outer).take_error();
  der::Reader r(doc, *outer);
  auto algorithm = read_algorithm(doc, r);
  if (!algorithm) return fail(algorithm.error());
  auto bits = r.expect(der::kBitString, text::kDerBitString);
  if (!bits) return fail(bits.error());
  if (bits->bytes.empty())
    return fail(der::error_at(text::kDerBitStringMalformed, bits->start).text);
  if (!r.at_end()) return fail(der::error_at(text::kDerSpkiExtra, r.offset()).text);

  if (algorithm->oid != kEd25519OidContent) return base::Error{unknown_oid()};
  const std::string_view key_bytes = bits->bytes.substr(1);
  if (algorithm->has_parameters || bits->bytes[0] != 0 ||
      key_bytes.size() != crypto::kEd25519PublicKeySize) {
    return base::Error{std::string(text::kSpkiKeyData)};
  }
  crypto::Ed25519PublicKey key;
  std::copy(key_bytes.begin(), key_bytes.end(), key.begin());
  if (!crypto::ed25519_point_decodes(key)) return base::Error{std::string(text::kSpkiKeyData)};
  return key;
}

}  // namespace tovrel::identity
