#ifndef INTERNAL_CERTIFICATE_CRYPT_UTIL_H_
#define INTERNAL_CERTIFICATE_CRYPT_UTIL_H_

#include <string>

#include "agent/crypto/signature_verifier.h"

namespace vantorel {

// Starts `verifier` on `signature` with the public key of the DER
// certificate `cert_der`. False (logged) when the certificate holds no
// key or the verifier refuses it.
bool InitSignatureVerifierFromCert(
    crypto::SignatureVerifier* verifier,
    crypto::SignatureVerifier::SignatureAlgorithm algorithm,
    const std::string& signature, const std::string& cert_der);

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_CRYPT_UTIL_H_
