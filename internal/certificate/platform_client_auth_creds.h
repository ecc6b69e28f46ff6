#ifndef INTERNAL_CERTIFICATE_PLATFORM_CLIENT_AUTH_CREDS_H_
#define INTERNAL_CERTIFICATE_PLATFORM_CLIENT_AUTH_CREDS_H_

#include <string>

#include "internal/certificate/client_auth_creds.h"

namespace vantorel {

// The device's credentials from their files: the certificate file (device
// certificate, maybe followed by the chain), the chain file and the wrapped
// key. Its signers sign through the platform authentication library.
//
// Threads: made and read on one thread (it reads files); its signers sign on
// whichever thread calls them.
class PlatformClientAuthCreds : public ClientAuthCreds {
 public:
  // Reads the three files. Never fails as a whole: each failure is logged
  // and leaves the chain or the key empty.
  PlatformClientAuthCreds();
  ~PlatformClientAuthCreds() override;

  // A signer over a copy of the wrapped key.
  scoped_refptr<RsaSigner> CreateRsaSigner() override;

  const std::string& wrapped_key() const { return wrapped_key_; }

 private:
  explicit PlatformClientAuthCreds(std::string cert_chain_pem);

  std::string wrapped_key_;
};

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_PLATFORM_CLIENT_AUTH_CREDS_H_
