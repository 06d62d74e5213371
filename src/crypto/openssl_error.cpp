#include "crypto/openssl_error.h"

#include <openssl/err.h>

#include "base/os_error.h"

// libcrypto's own loader of every library's reason texts, the one OPENSSL_init_crypto runs when
// asked to load them. Our initialisation tells OpenSSL not to load them (crypto/init.cpp), and
// that choice is once for all: asking OPENSSL_init_crypto afterwards does nothing, and the public
// loaders left cover only some libraries. libcrypto is linked statically, where this symbol is
// reachable; a shared libcrypto does not export it, and the link fails rather than the texts.
extern "C" int ossl_err_load_crypto_strings(void);

namespace tovrel::crypto {

namespace {

void load_reason_texts() {
  static const bool loaded = ossl_err_load_crypto_strings() == 1;
  (void)loaded;
}

}  // namespace

std::string openssl_error(const char* what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return base::with_cause(what, "unknown error");
  load_reason_texts();
  char buf[256];
  ERR_error_string_n(code, buf, sizeof buf);
  return base::with_cause(what, buf);
}

}  // namespace tovrel::crypto
