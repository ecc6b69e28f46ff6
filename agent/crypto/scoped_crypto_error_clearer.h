#ifndef AGENT_CRYPTO_SCOPED_CRYPTO_ERROR_CLEARER_H_
#define AGENT_CRYPTO_SCOPED_CRYPTO_ERROR_CLEARER_H_

#include "agent/base/location.h"

namespace crypto {

// Put on the stack around calls into BoringSSL: whatever errors they leave
// in the calling thread's BoringSSL error queue are dropped when the scope
// ends, so a failure reported by our own result does not linger and confuse
// a later, unrelated caller. Makes sure the library is initialised on entry.
// The location names the caller for debugging only.
class ScopedCryptoErrorClearer {
 public:
  explicit ScopedCryptoErrorClearer(const kelmbase::Location& location);
  ScopedCryptoErrorClearer(const ScopedCryptoErrorClearer&) = delete;
  ScopedCryptoErrorClearer& operator=(const ScopedCryptoErrorClearer&) =
      delete;
  ~ScopedCryptoErrorClearer();

 private:
  const kelmbase::Location location_;
};

}  // namespace crypto

#endif  // AGENT_CRYPTO_SCOPED_CRYPTO_ERROR_CLEARER_H_
