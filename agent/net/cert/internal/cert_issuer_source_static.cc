#include "agent/net/cert/internal/cert_issuer_source_static.h"

#include <utility>

namespace net {

CertIssuerSourceStatic::CertIssuerSourceStatic() {
  intermediates_.max_load_factor(1.0f);
}

CertIssuerSourceStatic::~CertIssuerSourceStatic() = default;

void CertIssuerSourceStatic::AddCert(scoped_refptr<ParsedCertificate> cert) {
  const std::string_view key = cert->normalized_subject().AsStringView();
  intermediates_[key].push_back(std::move(cert));
}

void CertIssuerSourceStatic::FindIssuers(const ParsedCertificate* cert,
                                         ParsedCertificateList* issuers) {
  auto it = intermediates_.find(cert->normalized_issuer().AsStringView());
  if (it == intermediates_.end())
    return;
  issuers->insert(issuers->end(), it->second.begin(), it->second.end());
}

void CertIssuerSourceStatic::FindIssuersAsync(
    const ParsedCertificate* /*cert*/,
    std::unique_ptr<Request>* out_req) {
  out_req->reset();
}

}  // namespace net
