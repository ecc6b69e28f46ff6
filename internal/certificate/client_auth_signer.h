#ifndef INTERNAL_CERTIFICATE_CLIENT_AUTH_SIGNER_H_
#define INTERNAL_CERTIFICATE_CLIENT_AUTH_SIGNER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "agent/base/functional/callback.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/task_runner.h"
#include "agent/components/kelm_certificate/kelm_cert_validator.h"
#include "agent/net/cert/x509_certificate.h"
#include "agent/net/ssl/ssl_private_key.h"
#include "internal/certificate/client_auth_creds.h"

namespace vantorel {

inline constexpr char kSignWithAlgorithmHistogram[] =
    "Kelm.ClientAuthSigner.SignWithAlgorithm.TimeInMs";

// Where the certificate check takes its revocation list from.
class CrlSource {
 public:
  virtual ~CrlSource() = default;
  // The current revocation check, or null for none.
  virtual kelm_certificate::Crl* GetCurrentCrl() = 0;
};

// The device's client-auth chain and key, as the rest of the tool signs
// with them. Built from a credential source; when the import fails it has
// neither certificate nor key and answers every request with an empty
// signature.
//
// Threads: made on one thread, then immutable apart from CheckCertificate;
// shared through its atomic reference count. SignWithAlgorithm runs on any
// thread with a current single-thread runner.
class ClientAuthSigner : public kelmbase::RefCountedThreadSafe<ClientAuthSigner> {
 public:
  using SignCallback = kelmbase::OneShotCallback<void(const std::string&)>;

  // `creds`, when given, is only read during the call.
  ClientAuthSigner(scoped_refptr<kelmbase::TaskRunner> signing_runner,
                   ClientAuthCreds* creds);
  ClientAuthSigner(const ClientAuthSigner&) = delete;
  ClientAuthSigner& operator=(const ClientAuthSigner&) = delete;

  // Signs `data` with the TLS signature scheme `algorithm` (0x0201 RSA
  // PKCS#1 SHA-1, 0x0401 RSA PKCS#1 SHA-256). `callback` runs later on this
  // thread with the signature or the empty string, exactly once for every
  // request whose reply can still reach this thread; never inside this call.
  virtual void SignWithAlgorithm(uint16_t algorithm, const std::string& data,
                                 SignCallback callback);

  // Validates the chain with the device-certificate validator and logs the
  // result; nothing happens while the clock says a year before 2016.
  virtual void CheckCertificate(CrlSource* crl_source);

  const scoped_refptr<net::X509Certificate>& cert() const { return cert_; }
  const scoped_refptr<net::SSLPrivateKey>& key() const { return key_; }
  const std::string& cert_chain_pem() const { return cert_chain_pem_; }
  const std::string& leaf_der() const { return leaf_der_; }
  const std::vector<std::string>& intermediate_ders() const {
    return intermediate_ders_;
  }
  bool cert_checked() const { return cert_checked_; }
  int32_t last_cert_result() const { return last_cert_result_; }

  // Test hook: the next key-less request arms the process-wide warning
  // throttle anew, as the first one of the process does, so it logs
  // nothing.
  static void ResetKeylessWarningThrottleForTesting();

 protected:
  friend class kelmbase::RefCountedThreadSafe<ClientAuthSigner>;
  virtual ~ClientAuthSigner();

 private:
  void InitFromCreds(ClientAuthCreds* creds);

  scoped_refptr<net::X509Certificate> cert_;
  scoped_refptr<net::SSLPrivateKey> key_;
  bool initialized_ = false;
  bool cert_checked_ = false;
  bool creds_flag_ = false;
  int32_t last_cert_result_ = kelm_certificate::ERR_UNEXPECTED;
  std::string cert_chain_pem_;
  std::string leaf_der_;
  std::vector<std::string> intermediate_ders_;
  const scoped_refptr<kelmbase::TaskRunner> signing_runner_;
};

// Records the user action "Kelm.Auth.<suffix>" for a validator result 0-8;
// other values record nothing.
void RecordAuthResultAction(int32_t result);

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_CLIENT_AUTH_SIGNER_H_
