#include "internal/sdk/kelm_core/auth/signature_cache.h"

namespace kelm_auth {

SignatureCache::SignatureCache() : cache_(kMaxSize) {}

SignatureCache::~SignatureCache() = default;

std::string SignatureCache::Get(const std::string& wrapped_key,
                                const std::string& input) {
  kelmbase::ScopedLock hold(lock_);
  if (wrapped_key != wrapped_key_) return std::string();
  auto it = cache_.Get(input);
  if (it == cache_.end()) return std::string();
  return it->second;
}

void SignatureCache::Put(const std::string& wrapped_key,
                         const std::string& input,
                         const std::string& signature) {
  kelmbase::ScopedLock hold(lock_);
  if (wrapped_key != wrapped_key_) {
    wrapped_key_ = wrapped_key;
    cache_.Clear();
  }
  cache_.Put(input, signature);
}

SignatureCache& GetSignatureCache() {
  static SignatureCache* const cache = new SignatureCache;
  return *cache;
}

}  // namespace kelm_auth
