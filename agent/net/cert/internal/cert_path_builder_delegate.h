#ifndef AGENT_NET_CERT_INTERNAL_CERT_PATH_BUILDER_DELEGATE_H_
#define AGENT_NET_CERT_INTERNAL_CERT_PATH_BUILDER_DELEGATE_H_

#include "agent/net/cert/internal/verify_certificate_chain_delegate.h"

namespace net {

class CertPathBuilder;
class CertPathBuilderResultPath;

// The path builder's policy: chain verification's questions, plus a look
// at each path once it has been verified.
class CertPathBuilderDelegate : public VerifyCertificateChainDelegate {
 public:
  ~CertPathBuilderDelegate() override = default;

  // Called by `path_builder` after verifying `path`; may add errors to the
  // path, which then makes it invalid.
  virtual void OnPathVerified(const CertPathBuilder& path_builder,
                              CertPathBuilderResultPath* path) = 0;
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_CERT_PATH_BUILDER_DELEGATE_H_
