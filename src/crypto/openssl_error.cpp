#include "crypto/openssl_error.h"

#include <openssl/err.h>

#include "base/os_error.h"

namespace tovrel::crypto {

std::string openssl_error(const char* what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return base::with_cause(what, "unknown error");
  char buf[256];
  ERR_error_string_n(code, buf, sizeof buf);
  return base::with_cause(what, buf);
}

}  // namespace tovrel::crypto
