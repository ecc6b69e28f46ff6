#ifndef AGENT_NET_CERT_INTERNAL_CERT_ISSUER_SOURCE_H_
#define AGENT_NET_CERT_INTERNAL_CERT_ISSUER_SOURCE_H_

#include <memory>

#include "agent/net/cert/internal/parsed_certificate.h"

namespace net {

// A place where the path builder looks for the issuers of a certificate:
// every certificate whose normalized subject equals the certificate's
// normalized issuer. A source is filled before the search and only read
// during it; it takes no lock of its own.
class CertIssuerSource {
 public:
  // A pending asynchronous query. No source of this library answers
  // asynchronously; the interface exists for sources that would.
  class Request {
   public:
    Request() = default;
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    virtual ~Request() = default;

    // Appends the next batch of issuers to `issuers`; appends nothing once
    // the query is exhausted.
    virtual void GetNext(ParsedCertificateList* issuers) = 0;
  };

  CertIssuerSource() = default;
  CertIssuerSource(const CertIssuerSource&) = delete;
  CertIssuerSource& operator=(const CertIssuerSource&) = delete;
  virtual ~CertIssuerSource() = default;

  // Appends every issuer of `cert` known here to `issuers`, each with a
  // reference of its own. `issuers` is not cleared.
  virtual void FindIssuers(const ParsedCertificate* cert,
                           ParsedCertificateList* issuers) = 0;

  // Starts an asynchronous query for the issuers of `cert`; leaves `out_req`
  // null when there is nothing to wait for.
  virtual void FindIssuersAsync(const ParsedCertificate* cert,
                                std::unique_ptr<Request>* out_req) = 0;
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_CERT_ISSUER_SOURCE_H_
