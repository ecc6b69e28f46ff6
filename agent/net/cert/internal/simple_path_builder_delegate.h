#ifndef AGENT_NET_CERT_INTERNAL_SIMPLE_PATH_BUILDER_DELEGATE_H_
#define AGENT_NET_CERT_INTERNAL_SIMPLE_PATH_BUILDER_DELEGATE_H_

#include <cstddef>

#include "agent/net/cert/internal/cert_path_builder_delegate.h"
#include "agent/net/cert/internal/signature_algorithm.h"

namespace net {

// A path-builder policy by digest strength and key size: SHA-256, SHA-384
// and SHA-512 signatures (and SHA-1 ones when allowed); RSA keys of at
// least a minimum size; EC keys on P-256, P-384 or P-521. Holds no state
// beyond its settings; any thread may use it.
class SimplePathBuilderDelegate : public CertPathBuilderDelegate {
 public:
  enum class DigestPolicy {
    // SHA-256, SHA-384 and SHA-512.
    kStrong = 0,
    // Those and SHA-1.
    kWeakAllowSha1 = 1,
  };

  SimplePathBuilderDelegate(size_t min_rsa_modulus_bits,
                            DigestPolicy digest_policy);

  // RSA PKCS#1 v1.5 and ECDSA with an allowed digest, and RSASSA-PSS whose
  // message and MGF1 digests are allowed. Adds no errors.
  bool AcceptsSignatureAlgorithm(const SignatureAlgorithm& signature_algorithm,
                                 CertErrors* errors) override;

  // Adds "RSA modulus too small" (with the actual and minimum sizes) or
  // "Only P-256, P-384, P-521 are supported for ECDSA" when it refuses an
  // RSA or EC key for those reasons; refuses other key types silently.
  bool AcceptsPublicKey(EVP_PKEY* public_key, CertErrors* errors) override;

  ~SimplePathBuilderDelegate() override;

  // Does nothing.
  void OnPathVerified(const CertPathBuilder& path_builder,
                      CertPathBuilderResultPath* path) override;

 private:
  bool IsAcceptableDigest(DigestAlgorithm digest) const;

  const size_t min_rsa_modulus_bits_;
  const DigestPolicy digest_policy_;
};

// The ids of the errors AcceptsPublicKey adds.
extern const char kRsaModulusTooSmall[];
extern const char kUnacceptableCurveForEcdsa[];

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_SIMPLE_PATH_BUILDER_DELEGATE_H_
