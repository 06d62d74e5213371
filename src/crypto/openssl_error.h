#pragma once
// The text of OpenSSL's most recent error, the one place its error queue is read.

#include <string>

namespace tovrel::crypto {

// "{what}: {OpenSSL's reason}" and the error queue emptied; "{what}: unknown error" when the
// queue holds nothing.
std::string openssl_error(const char* what);

}  // namespace tovrel::crypto
