#ifndef INTERNAL_CERTIFICATE_CLIENT_AUTH_CREDS_H_
#define INTERNAL_CERTIFICATE_CLIENT_AUTH_CREDS_H_

// A source of client-authentication credentials (a PEM chain and a way to
// sign with its key), the import that turns one into a certificate object
// and a net::SSLPrivateKey, and the metric of the key's signing.

#include <string>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/task_runner.h"
#include "agent/net/cert/x509_certificate.h"
#include "agent/net/ssl/ssl_private_key.h"

namespace vantorel {

// The histogram of one signing by the key adapter, in milliseconds.
inline constexpr char kSSLPrivateKeyDoSignHistogram[] =
    "Kelm.ClientAuthCreds.SSLPrivateKeyDoSign.TimeInMs";

// A credential source. Made and read on one thread; it is needed only while
// the import runs: the key it creates does not refer back to it.
class ClientAuthCreds {
 public:
  // Signs a DigestInfo block with the credential's key. Shared across
  // threads; Sign runs on the signing thread.
  class RsaSigner : public kelmbase::RefCountedThreadSafe<RsaSigner> {
   public:
    RsaSigner(const RsaSigner&) = delete;
    RsaSigner& operator=(const RsaSigner&) = delete;

    // The signature of `input`, or the empty string on failure.
    virtual std::string Sign(const std::string& input) = 0;

   protected:
    friend class kelmbase::RefCountedThreadSafe<RsaSigner>;
    RsaSigner() = default;
    virtual ~RsaSigner() = default;
  };

  ClientAuthCreds(std::string cert_chain_pem, bool flag);
  ClientAuthCreds(const ClientAuthCreds&) = delete;
  ClientAuthCreds& operator=(const ClientAuthCreds&) = delete;
  virtual ~ClientAuthCreds();

  // A new signer over the credential's key, or null (the implementation
  // says why in the log).
  virtual scoped_refptr<RsaSigner> CreateRsaSigner() = 0;

  // A key that signs through CreateRsaSigner's signer on `signing_runner`,
  // offering RSA PKCS#1 SHA-256 then SHA-1. Null (logged) when there is no
  // signer.
  virtual scoped_refptr<net::SSLPrivateKey> CreateSSLPrivateKey(
      scoped_refptr<kelmbase::TaskRunner> signing_runner);

  // The PEM chain, device certificate first.
  const std::string& cert_chain_pem() const { return cert_chain_pem_; }
  bool flag() const { return flag_; }

 private:
  const std::string cert_chain_pem_;
  const bool flag_;
};

// Parses the credential's chain into `*cert` (device certificate with the
// chain's intermediates; self-signed roots are dropped) and makes its key,
// bound to `signing_runner`, into `*key`. On failure (logged) returns false
// and leaves both outputs as they were.
bool ImportClientAuthCreds(ClientAuthCreds* creds,
                           scoped_refptr<kelmbase::TaskRunner> signing_runner,
                           scoped_refptr<net::X509Certificate>* cert,
                           scoped_refptr<net::SSLPrivateKey>* key);

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_CLIENT_AUTH_CREDS_H_
