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

  // Whether a file stood at a credential path but could not be read
  // (ReadCredentialFile's kUnreadable), or a chain file that was named could
  // not be read, missing included. New certificate and key files would not
  // mend that: the chain file is never written, and a pair that this process
  // cannot read may work for one that can. Missing certificate and key files
  // do not count.
  bool found_unreadable_file() const { return found_unreadable_file_; }

  // Whether the chain file was looked at. It is read only after the
  // certificate file was; without that, nothing is known of it.
  bool chain_file_checked() const { return chain_file_checked_; }

 private:
  // What the certificate and chain files gave, read before the base is
  // made.
  struct CertificateFiles;
  static CertificateFiles LoadCertificateFiles();
  explicit PlatformClientAuthCreds(CertificateFiles files);

  std::string wrapped_key_;
  bool found_unreadable_file_;
  bool chain_file_checked_;
};

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_PLATFORM_CLIENT_AUTH_CREDS_H_
