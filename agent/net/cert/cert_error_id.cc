#include "agent/net/cert/cert_error_id.h"

namespace net {

const char* CertErrorIdToDebugString(CertErrorId id) {
  return static_cast<const char*>(id);
}

}  // namespace net
