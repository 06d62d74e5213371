#pragma once
// Initialisation of libcrypto, done once before the first call that needs its providers.

namespace tovrel::crypto {

// Initialises OpenSSL without reading its configuration file: the program takes no
// configuration but its command line (OPENSSL_CONF and openssl.cnf could otherwise load other
// providers or change defaults), and skipping the file saves start-up time.
void ensure_openssl_initialised();

}  // namespace tovrel::crypto
