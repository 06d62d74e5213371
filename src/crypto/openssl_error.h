#pragma once
// The text of OpenSSL's most recent error, the one place its error queue is read.

#include <string>

namespace tovrel::crypto {

// "{what}: {OpenSSL's reason}" and the error queue emptied; "{what}: unknown error" when the
// queue holds nothing. OpenSSL's reason texts are loaded the first time a text is made, not
// before: a call that succeeds never pays for them.
std::string openssl_error(const char* what);

}  // namespace tovrel::crypto
