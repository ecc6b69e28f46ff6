#ifndef AGENT_NET_CERT_INTERNAL_TRUST_STORE_H_
#define AGENT_NET_CERT_INTERNAL_TRUST_STORE_H_

#include <memory>

#include "agent/net/cert/internal/cert_issuer_source.h"

namespace kelmbase {
class SupportsUserData;
}  // namespace kelmbase

namespace net {

enum class CertificateTrustType : int {
  // The certificate must never be used.
  DISTRUSTED = 0,
  // Neither trusted nor distrusted: it may be an intermediate.
  UNSPECIFIED = 1,
  // A trust anchor whose own certificate is not examined beyond its key.
  TRUSTED_ANCHOR = 2,
  // A trust anchor whose certificate's constraints (extended key usage,
  // name constraints, path length, critical extensions) apply to the path.
  TRUSTED_ANCHOR_WITH_CONSTRAINTS = 3,
};

// How far a trust store trusts one certificate.
struct CertificateTrust {
  static CertificateTrust Unspecified() {
    return {CertificateTrustType::UNSPECIFIED};
  }
  static CertificateTrust AnchorWithConstraints() {
    return {CertificateTrustType::TRUSTED_ANCHOR_WITH_CONSTRAINTS};
  }

  bool IsTrustAnchor() const {
    return type == CertificateTrustType::TRUSTED_ANCHOR ||
           type == CertificateTrustType::TRUSTED_ANCHOR_WITH_CONSTRAINTS;
  }

  CertificateTrustType type = CertificateTrustType::UNSPECIFIED;
};

// An issuer source that also answers how far it trusts a certificate.
class TrustStore : public CertIssuerSource {
 public:
  TrustStore() = default;

  // Leaves `out_req` null: the stores of this library answer synchronously.
  void FindIssuersAsync(const ParsedCertificate* cert,
                        std::unique_ptr<Request>* out_req) override;

  // Sets `*trust` to the trust in `cert`. `debug_data` is whatever the
  // caller wants trust decisions noted on; it may be null.
  virtual void GetTrust(const ParsedCertificate* cert,
                        CertificateTrust* trust,
                        kelmbase::SupportsUserData* debug_data) const = 0;
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_TRUST_STORE_H_
