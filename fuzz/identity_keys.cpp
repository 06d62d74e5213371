// The key file readers on arbitrary text: no crash, no hang, and nothing accepted that the
// reading rules refuse (checked by properties every accepted document must have).

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crypto/ed25519.h"
#include "identity/keys.h"
#include "identity/pem.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tovrel::identity;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto pem = pem_decode(text);
  if (pem.ok()) {
    // Accepted armour: a non-empty body, and re-armouring it reads back the same.
    check(!pem->der.empty());
    const auto again = pem_encode(pem->label, pem->der);
    auto back = pem_decode(again.view());
    check(back.ok() && back->label == pem->label && back->der == pem->der);
  }
  if (auto pub = read_public_key(text); pub.ok()) {
    check(pem.ok() && pem->label == kPublicKeyLabel && pem->der.size() == kPublicKeyDerSize);
    check(tovrel::crypto::ed25519_point_decodes(*pub));
  } else {
    check(!pub.error().empty());
  }
  if (auto key = read_private_key(text); key.ok()) {
    check(pem.ok() && pem->label == kPrivateKeyLabel);
    // Only the two forms with an Ed25519 seed of 32 bytes can pass.
    check(pem->der.size() >= 48);
    check(pem->der.find(std::string_view("\x06\x03\x2B\x65\x70", 5)) != std::string::npos);
  } else {
    check(!key.error().empty());
  }
  return 0;
}
