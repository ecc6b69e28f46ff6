// Feeds arbitrary bytes to X509Certificate::CreateListFromBytes in every
// format and reads each certificate it makes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/net/cert/x509_certificate.h"
#include "agent/net/cert/x509_util.h"
#include "logging/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  for (int format : {net::X509Certificate::CERT_FORMAT_DER,
                     net::X509Certificate::CERT_FORMAT_PEM_SEQUENCE,
                     net::X509Certificate::CERT_FORMAT_PKCS7,
                     net::X509Certificate::CERT_FORMAT_AUTO}) {
    for (const auto& cert :
         net::X509Certificate::CreateListFromBytes(bytes, size, format)) {
      CHECK(cert->CertBuffer());
      (void)cert->IsSelfSigned();
      (void)cert->Subject().DisplayName();
      (void)cert->Issuer().DisplayName();
      CHECK(!net::CryptoBufferBytes(cert->CertBuffer()).empty());
    }
  }
  return 0;
}
