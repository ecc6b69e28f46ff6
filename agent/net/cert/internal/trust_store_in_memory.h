#ifndef AGENT_NET_CERT_INTERNAL_TRUST_STORE_IN_MEMORY_H_
#define AGENT_NET_CERT_INTERNAL_TRUST_STORE_IN_MEMORY_H_

#include <string_view>
#include <unordered_map>
#include <vector>

#include "agent/net/cert/internal/normalized_name_hash.h"
#include "agent/net/cert/internal/trust_store.h"

namespace net {

// A trust store held in memory. Trust attaches to the exact certificate
// (the same object or the same DER bytes), while the issuer search returns
// every stored certificate with the matching subject. Fill it before use;
// it takes no lock, so additions must not overlap with look-ups.
class TrustStoreInMemory : public TrustStore {
 public:
  TrustStoreInMemory();
  TrustStoreInMemory(const TrustStoreInMemory&) = delete;
  TrustStoreInMemory& operator=(const TrustStoreInMemory&) = delete;
  ~TrustStoreInMemory() override;

  // Adds `cert` with `trust` under its normalized subject.
  void AddCertificate(scoped_refptr<ParsedCertificate> cert,
                      const CertificateTrust& trust);
  // AddCertificate with TRUSTED_ANCHOR_WITH_CONSTRAINTS.
  void AddConstrainedTrustAnchor(scoped_refptr<ParsedCertificate> cert);

  // Appends the stored certificates whose subject is `cert`'s issuer, in the
  // order they were added.
  void FindIssuers(const ParsedCertificate* cert,
                   ParsedCertificateList* issuers) override;
  // The trust of the first stored entry that is `cert` or has its DER
  // bytes; UNSPECIFIED when there is none. `debug_data` is not used.
  void GetTrust(const ParsedCertificate* cert,
                CertificateTrust* trust,
                kelmbase::SupportsUserData* debug_data) const override;

 private:
  struct Entry {
    scoped_refptr<ParsedCertificate> cert;
    CertificateTrust trust;
  };

  // Keyed by a view of the normalized subject inside the stored
  // certificate; entries with equal keys in insertion order.
  std::unordered_map<std::string_view, std::vector<Entry>, NormalizedNameHash>
      entries_;
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_TRUST_STORE_IN_MEMORY_H_
