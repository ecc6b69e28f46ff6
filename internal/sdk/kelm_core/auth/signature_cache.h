#ifndef INTERNAL_SDK_KELM_CORE_AUTH_SIGNATURE_CACHE_H_
#define INTERNAL_SDK_KELM_CORE_AUTH_SIGNATURE_CACHE_H_

#include <cstddef>
#include <functional>
#include <string>

#include "agent/base/containers/mru_cache.h"
#include "agent/base/synchronization/lock.h"

namespace kelm_auth {

// Signatures already made by the platform library for one wrapped key, so
// that signing the same input again with the same key does not call it.
// Holds the 10 most recently used (input, signature) pairs. Storing a
// signature for another key forgets everything stored for the previous one.
// Safe to use from any thread: each operation holds the cache's lock for its
// whole body.
class SignatureCache {
 public:
  static constexpr size_t kMaxSize = 10;

  SignatureCache();
  SignatureCache(const SignatureCache&) = delete;
  SignatureCache& operator=(const SignatureCache&) = delete;
  ~SignatureCache();

  // The signature stored for `input` when `wrapped_key` is the cache's key
  // (byte for byte; a fresh cache's key is empty), marking it most recently
  // used; otherwise the empty string. Looking up another key clears nothing.
  std::string Get(const std::string& wrapped_key, const std::string& input);

  // Stores the signature of `input`. When `wrapped_key` differs from the
  // cache's key, it becomes the cache's key and everything stored before is
  // dropped first.
  void Put(const std::string& wrapped_key, const std::string& input,
           const std::string& signature);

 private:
  kelmbase::Lock lock_;
  std::string wrapped_key_;
  kelmbase::HashingMRUCache<std::string, std::string, std::hash<std::string>>
      cache_;
};

// The process-wide cache that SignHash uses: made on first use and never
// destroyed.
SignatureCache& GetSignatureCache();

}  // namespace kelm_auth

#endif  // INTERNAL_SDK_KELM_CORE_AUTH_SIGNATURE_CACHE_H_
