#ifndef AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_ROOT_CERTS_H_
#define AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_ROOT_CERTS_H_

// The two built-in root certificates that device certificate chains must
// lead to, as DER, in the order they are trusted. The bytes are the
// development PKI's roots (dev/pki/data), embedded when the build is
// configured.

#include <cstddef>
#include <cstdint>

namespace kelm_certificate {

struct RootCert {
  const uint8_t* der;
  size_t length;
};

// Self-signed RSA-2048 CA, serial 2, basicConstraints pathlen 2, keyUsage
// keyCertSign and cRLSign.
extern const RootCert kRootCert1;
// Self-signed RSA-2048 CA, serial 1, no path length, no keyUsage.
extern const RootCert kRootCert2;

}  // namespace kelm_certificate

#endif  // AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_ROOT_CERTS_H_
