#ifndef AGENT_NET_CERT_X509_UTIL_H_
#define AGENT_NET_CERT_X509_UTIL_H_

// Certificate bytes as BoringSSL CRYPTO_BUFFERs. Every certificate buffer of
// the certificate library comes from one process-wide pool, so equal
// certificates share their bytes.

#include <openssl/pool.h>

#include <cstddef>

#include "agent/net/cert/internal/parse_certificate.h"
#include "agent/net/der/input.h"

namespace net {

// The shared pool, made by the first call from any thread and never freed.
CRYPTO_BUFFER_POOL* CertBufferPool();

// A new buffer holding a copy of the bytes, in the shared pool. Any thread
// may call these.
bssl::UniquePtr<CRYPTO_BUFFER> CreateCertBuffer(const char* data,
                                                size_t length);
bssl::UniquePtr<CRYPTO_BUFFER> CreateCertBuffer(const der::Input& bytes);

// The bytes of `buffer`, valid while the buffer lives.
der::Input CryptoBufferBytes(const CRYPTO_BUFFER* buffer);

// The options certificate objects parse with: serial-number defects are
// only warnings.
ParseCertificateOptions DefaultParseCertificateOptions();

}  // namespace net

#endif  // AGENT_NET_CERT_X509_UTIL_H_
