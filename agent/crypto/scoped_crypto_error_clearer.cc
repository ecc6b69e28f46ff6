#include "agent/crypto/scoped_crypto_error_clearer.h"

#include <openssl/err.h>

#include "agent/crypto/crypto_init.h"

namespace crypto {

ScopedCryptoErrorClearer::ScopedCryptoErrorClearer(
    const kelmbase::Location& location)
    : location_(location) {
  EnsureCryptoInit();
}

ScopedCryptoErrorClearer::~ScopedCryptoErrorClearer() {
  ERR_clear_error();
}

}  // namespace crypto
