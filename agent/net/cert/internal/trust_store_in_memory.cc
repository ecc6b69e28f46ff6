#include "agent/net/cert/internal/trust_store_in_memory.h"

#include <utility>

namespace net {

TrustStoreInMemory::TrustStoreInMemory() {
  entries_.max_load_factor(1.0f);
}

TrustStoreInMemory::~TrustStoreInMemory() = default;

void TrustStoreInMemory::AddCertificate(scoped_refptr<ParsedCertificate> cert,
                                        const CertificateTrust& trust) {
  const std::string_view key = cert->normalized_subject().AsStringView();
  entries_[key].push_back(Entry{std::move(cert), trust});
}

void TrustStoreInMemory::AddConstrainedTrustAnchor(
    scoped_refptr<ParsedCertificate> cert) {
  AddCertificate(std::move(cert), CertificateTrust::AnchorWithConstraints());
}

void TrustStoreInMemory::FindIssuers(const ParsedCertificate* cert,
                                     ParsedCertificateList* issuers) {
  auto it = entries_.find(cert->normalized_issuer().AsStringView());
  if (it == entries_.end())
    return;
  for (const Entry& entry : it->second)
    issuers->push_back(entry.cert);
}

void TrustStoreInMemory::GetTrust(
    const ParsedCertificate* cert,
    CertificateTrust* trust,
    kelmbase::SupportsUserData* /*debug_data*/) const {
  *trust = CertificateTrust::Unspecified();
  auto it = entries_.find(cert->normalized_subject().AsStringView());
  if (it == entries_.end())
    return;
  for (const Entry& entry : it->second) {
    if (entry.cert.get() == cert || entry.cert->der_cert() == cert->der_cert()) {
      *trust = entry.trust;
      return;
    }
  }
}

}  // namespace net
