#pragma once
// Owners of OpenSSL objects, all of one shape: Owned<T> is a unique_ptr whose deleter calls
// T's own free function. OpenSSL's free functions take a null pointer, and those of keys and
// cipher contexts cleanse what they held. The types are only declared here, so that a header
// can own an object without including OpenSSL.

#include <memory>

typedef struct bignum_ctx BN_CTX;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_kdf_ctx_st EVP_KDF_CTX;
typedef struct evp_kdf_st EVP_KDF;
typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_pkey_ctx_st EVP_PKEY_CTX;
typedef struct evp_pkey_st EVP_PKEY;

namespace tovrel::crypto {

// The deleter of one OpenSSL type; defined for the types below only.
template <class T>
struct OpenSslFree;

#define TOVREL_OPENSSL_FREE(T)            \
  template <>                             \
  struct OpenSslFree<T> {                 \
    void operator()(T* p) const noexcept; \
  }
TOVREL_OPENSSL_FREE(BN_CTX);
TOVREL_OPENSSL_FREE(EVP_CIPHER_CTX);
TOVREL_OPENSSL_FREE(EVP_KDF_CTX);
TOVREL_OPENSSL_FREE(EVP_KDF);
TOVREL_OPENSSL_FREE(EVP_MD_CTX);
TOVREL_OPENSSL_FREE(EVP_PKEY_CTX);
TOVREL_OPENSSL_FREE(EVP_PKEY);
#undef TOVREL_OPENSSL_FREE

template <class T>
using Owned = std::unique_ptr<T, OpenSslFree<T>>;

}  // namespace tovrel::crypto
