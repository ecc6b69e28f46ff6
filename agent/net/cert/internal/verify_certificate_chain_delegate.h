#ifndef AGENT_NET_CERT_INTERNAL_VERIFY_CERTIFICATE_CHAIN_DELEGATE_H_
#define AGENT_NET_CERT_INTERNAL_VERIFY_CERTIFICATE_CHAIN_DELEGATE_H_

#include <openssl/base.h>

namespace net {

class CertErrors;
class SignatureAlgorithm;

// The policy that chain verification asks about the signature algorithms
// and public keys it meets. Called on the verifying thread only.
class VerifyCertificateChainDelegate {
 public:
  // Whether signatures made with `signature_algorithm` may be trusted. May
  // add entries to `errors`.
  virtual bool AcceptsSignatureAlgorithm(
      const SignatureAlgorithm& signature_algorithm,
      CertErrors* errors) = 0;

  // Whether `public_key` is acceptable (type, size, curve). May add
  // entries to `errors`.
  virtual bool AcceptsPublicKey(EVP_PKEY* public_key, CertErrors* errors) = 0;

  virtual ~VerifyCertificateChainDelegate() = default;
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_VERIFY_CERTIFICATE_CHAIN_DELEGATE_H_
