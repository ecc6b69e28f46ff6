#include "agent/net/cert/internal/trust_store.h"

namespace net {

void TrustStore::FindIssuersAsync(const ParsedCertificate* /*cert*/,
                                  std::unique_ptr<Request>* out_req) {
  out_req->reset();
}

}  // namespace net
