#include "internal/certificate/crypt_util.h"

#include <cstdint>

#include "agent/net/cert/asn1_util.h"
#include "logging/log.h"

namespace vantorel {

bool InitSignatureVerifierFromCert(
    crypto::SignatureVerifier* verifier,
    crypto::SignatureVerifier::SignatureAlgorithm algorithm,
    const std::string& signature, const std::string& cert_der) {
  kelmbase::StringPiece spki;
  if (!net::asn1::ExtractSubjectPublicKeyInfo(cert_der, &spki)) {
    LOG(ERROR) << "Failed to extract SPKI from cert_der, size="
               << cert_der.size();
    return false;
  }
  if (!verifier->VerifyInit(
          algorithm,
          kelmbase::span<const uint8_t>(
              reinterpret_cast<const uint8_t*>(signature.data()),
              signature.size()),
          kelmbase::span<const uint8_t>(
              reinterpret_cast<const uint8_t*>(spki.data()), spki.size()))) {
    LOG(ERROR) << "VerifyInit failed. signature size=" << signature.size()
               << " SPKI size=" << spki.size();
    return false;
  }
  return true;
}

}  // namespace vantorel
