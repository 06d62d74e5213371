#include "crypto/init.h"

#include <openssl/crypto.h>

namespace tovrel::crypto {

void ensure_openssl_initialised() {
  // Without the two NO_ADD_ALL flags, the first lookup of an algorithm would register every
  // legacy cipher and digest name and then copy them all into the provider name map: about
  // two thirds of a small command's instructions, for names this program never looks up (it
  // fetches its few algorithms by the names the default provider gives them). Without
  // NO_LOAD_CRYPTO_STRINGS, the first call that touches the error queue (every fetch does, on
  // success too) would load every reason text of every library, a quarter of a signature's
  // instructions: openssl_error loads them when it makes a text, the only reader.
  // A failure here shows up again, with OpenSSL's reason, at the call that needed it.
  static const bool done =
      OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                              OPENSSL_INIT_NO_ADD_ALL_DIGESTS | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS,
                          nullptr) == 1;
  (void)done;
}

}  // namespace tovrel::crypto
