#include "agent/base/sha1.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

namespace kelmbase {

static_assert(kSha1Length == SHA_DIGEST_LENGTH);

void Sha1Hash(const void* data, size_t length, uint8_t* out) {
  // Trace identifiers may be hashed before anything else touched the crypto
  // library; the initialisation is a no-op once it has run.
  CRYPTO_library_init();
  SHA1(static_cast<const uint8_t*>(data), length, out);
}

}  // namespace kelmbase
