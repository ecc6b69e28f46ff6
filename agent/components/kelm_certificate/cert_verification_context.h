#ifndef AGENT_COMPONENTS_KELM_CERTIFICATE_CERT_VERIFICATION_CONTEXT_H_
#define AGENT_COMPONENTS_KELM_CERTIFICATE_CERT_VERIFICATION_CONTEXT_H_

#include <string>

#include "agent/net/cert/internal/signature_algorithm.h"

namespace kelm_certificate {

// What the validator hands back for a verified device certificate: checks
// signatures made with its key and reads its commonName. Immutable; any
// thread may call it.
class CertVerificationContext {
 public:
  virtual ~CertVerificationContext() = default;

  // Whether `signature` is the RSA PKCS#1 v1.5 signature with `digest` of
  // `data` under the device certificate's key.
  virtual bool VerifySignature(const std::string& signature,
                               const std::string& data,
                               net::DigestAlgorithm digest) const = 0;

  // The device certificate's subject commonName.
  virtual std::string CommonName() const = 0;
};

// The context over a copy of the device certificate's SubjectPublicKeyInfo
// (the whole DER element) and its commonName text.
class CertVerificationContextImpl : public CertVerificationContext {
 public:
  CertVerificationContextImpl(std::string spki, std::string common_name);
  ~CertVerificationContextImpl() override;

  bool VerifySignature(const std::string& signature,
                       const std::string& data,
                       net::DigestAlgorithm digest) const override;
  std::string CommonName() const override;

 private:
  const std::string spki_;
  const std::string common_name_;
};

}  // namespace kelm_certificate

#endif  // AGENT_COMPONENTS_KELM_CERTIFICATE_CERT_VERIFICATION_CONTEXT_H_
