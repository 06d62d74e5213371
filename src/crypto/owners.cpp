#include "crypto/owners.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

namespace tovrel::crypto {

void OpenSslFree<BN_CTX>::operator()(BN_CTX* p) const noexcept { BN_CTX_free(p); }
void OpenSslFree<EVP_CIPHER_CTX>::operator()(EVP_CIPHER_CTX* p) const noexcept {
  EVP_CIPHER_CTX_free(p);
}
void OpenSslFree<EVP_KDF_CTX>::operator()(EVP_KDF_CTX* p) const noexcept { EVP_KDF_CTX_free(p); }
void OpenSslFree<EVP_KDF>::operator()(EVP_KDF* p) const noexcept { EVP_KDF_free(p); }
void OpenSslFree<EVP_MD_CTX>::operator()(EVP_MD_CTX* p) const noexcept { EVP_MD_CTX_free(p); }
void OpenSslFree<EVP_PKEY_CTX>::operator()(EVP_PKEY_CTX* p) const noexcept { EVP_PKEY_CTX_free(p); }
void OpenSslFree<EVP_PKEY>::operator()(EVP_PKEY* p) const noexcept { EVP_PKEY_free(p); }

}  // namespace tovrel::crypto
