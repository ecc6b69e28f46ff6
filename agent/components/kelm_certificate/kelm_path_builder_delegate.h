#ifndef AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_PATH_BUILDER_DELEGATE_H_
#define AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_PATH_BUILDER_DELEGATE_H_

#include "agent/net/cert/internal/simple_path_builder_delegate.h"

namespace kelm_certificate {

// The validator's path policy: RSA keys of at least 2048 bits, and SHA-1
// signatures accepted besides SHA-256/384/512, which the built-in roots
// themselves are signed with.
class KelmPathBuilderDelegate : public net::SimplePathBuilderDelegate {
 public:
  KelmPathBuilderDelegate()
      : net::SimplePathBuilderDelegate(2048, DigestPolicy::kWeakAllowSha1) {}
  ~KelmPathBuilderDelegate() override;
};

}  // namespace kelm_certificate

#endif  // AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_PATH_BUILDER_DELEGATE_H_
