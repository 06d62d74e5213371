#include "crypto/init.h"

#include <openssl/crypto.h>

namespace tovrel::crypto {

void ensure_openssl_initialised() {
  // A failure here shows up again, with OpenSSL's reason, at the call that needed it.
  static const bool done = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
  (void)done;
}

}  // namespace tovrel::crypto
