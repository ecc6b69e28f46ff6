#include "agent/crypto/crypto_init.h"

#include <openssl/crypto.h>

namespace crypto {

void EnsureCryptoInit() {
  CRYPTO_library_init();
}

}  // namespace crypto
