#include "agent/net/cert/x509_util.h"

#include <atomic>
#include <cstdint>

#include "agent/base/memory/lazy_singleton.h"

namespace net {

namespace {

std::atomic<uintptr_t> g_pool_state{kelmbase::internal::kLazySingletonNotMade};

}  // namespace

CRYPTO_BUFFER_POOL* CertBufferPool() {
  uintptr_t value = g_pool_state.load(std::memory_order_acquire);
  if (value > kelmbase::internal::kLazySingletonBeingMade)
    return reinterpret_cast<CRYPTO_BUFFER_POOL*>(value);
  if (kelmbase::internal::BeginLazySingletonCreation(&g_pool_state)) {
    // Never freed: buffers anywhere in the process may still point at it.
    kelmbase::internal::CompleteLazySingletonCreation(
        &g_pool_state, CRYPTO_BUFFER_POOL_new(), nullptr, nullptr);
  }
  return reinterpret_cast<CRYPTO_BUFFER_POOL*>(
      g_pool_state.load(std::memory_order_acquire));
}

bssl::UniquePtr<CRYPTO_BUFFER> CreateCertBuffer(const char* data,
                                                size_t length) {
  return bssl::UniquePtr<CRYPTO_BUFFER>(
      CRYPTO_BUFFER_new(reinterpret_cast<const uint8_t*>(data), length,
                        CertBufferPool()));
}

bssl::UniquePtr<CRYPTO_BUFFER> CreateCertBuffer(const der::Input& bytes) {
  return bssl::UniquePtr<CRYPTO_BUFFER>(
      CRYPTO_BUFFER_new(bytes.data(), bytes.length(), CertBufferPool()));
}

der::Input CryptoBufferBytes(const CRYPTO_BUFFER* buffer) {
  return der::Input(CRYPTO_BUFFER_data(buffer), CRYPTO_BUFFER_len(buffer));
}

ParseCertificateOptions DefaultParseCertificateOptions() {
  ParseCertificateOptions options;
  options.allow_invalid_serial_numbers = true;
  return options;
}

}  // namespace net
