#ifndef AGENT_NET_CERT_INTERNAL_CERT_ISSUER_SOURCE_STATIC_H_
#define AGENT_NET_CERT_INTERNAL_CERT_ISSUER_SOURCE_STATIC_H_

#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "agent/net/cert/internal/cert_issuer_source.h"
#include "agent/net/cert/internal/normalized_name_hash.h"

namespace net {

// An issuer source over a fixed set of certificates, such as the
// intermediates handed in with a chain. Fill it before searching; it takes
// no lock, so additions must not overlap with look-ups.
class CertIssuerSourceStatic : public CertIssuerSource {
 public:
  CertIssuerSourceStatic();
  ~CertIssuerSourceStatic() override;

  // Adds `cert` under its normalized subject. Duplicates are kept.
  void AddCert(scoped_refptr<ParsedCertificate> cert);

  // Appends the stored certificates whose subject is `cert`'s issuer, in the
  // order they were added.
  void FindIssuers(const ParsedCertificate* cert,
                   ParsedCertificateList* issuers) override;
  // Leaves `out_req` null: every answer is synchronous.
  void FindIssuersAsync(const ParsedCertificate* cert,
                        std::unique_ptr<Request>* out_req) override;

 private:
  // Keyed by a view of the normalized subject inside the stored
  // certificate; certificates with equal keys in insertion order.
  std::unordered_map<std::string_view, ParsedCertificateList,
                     NormalizedNameHash>
      intermediates_;
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_CERT_ISSUER_SOURCE_STATIC_H_
