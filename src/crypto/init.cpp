#include "crypto/init.h"

#include <openssl/crypto.h>

namespace tovrel::crypto {

void ensure_openssl_initialised() {
  // Without the two NO_ADD_ALL flags, the first lookup of an algorithm would register every
  // legacy cipher and digest name and then copy them all into the provider name map: about
  // two thirds of a small command's instructions, for names this program never looks up (it
  // fetches its few algorithms by the names the default provider gives them). The error
  // strings stay: OpenSSL's reason texts go into the error messages.
  // A failure here shows up again, with OpenSSL's reason, at the call that needed it.
  static const bool done =
      OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                              OPENSSL_INIT_NO_ADD_ALL_DIGESTS,
                          nullptr) == 1;
  (void)done;
}

}  // namespace tovrel::crypto
