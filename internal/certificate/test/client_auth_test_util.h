#ifndef INTERNAL_CERTIFICATE_TEST_CLIENT_AUTH_TEST_UTIL_H_
#define INTERNAL_CERTIFICATE_TEST_CLIENT_AUTH_TEST_UTIL_H_

// Credentials for the client-auth tests, made by the development platform
// library, and a way to run a signing request on a task-running thread.

#include <cstdint>
#include <string>
#include <vector>

#include "agent/base/memory/scoped_refptr.h"
#include "internal/certificate/client_auth_signer.h"

namespace vantorel::test {

// A fresh device certificate and key from the development library.
struct DeviceCredentials {
  std::string device_cert_der;
  std::string device_cert_pem;
  std::string wrapped_key;
  // The model chain without its template, as PEM.
  std::string intermediates_pem;
  std::vector<std::string> intermediate_ders;
};
DeviceCredentials MakeDeviceCredentials();

// The whole content of the file at `path`; empty when it cannot be read.
std::string ReadFileOrEmpty(const std::string& path);

// The names of the entries of the folder `dir`, dot files included, sorted.
std::vector<std::string> EntryNames(const std::string& dir);

// A file of the development PKI (dev/pki/data).
std::string DevPkiFile(const char* name);

std::string DerToPem(const std::string& der);

// `cert_der` with its key replaced by a new P-256 key and signed again by the
// development model intermediate CA. Everything before the key keeps its
// place, so a device certificate keeps its SSID where the model template
// has the placeholder.
std::string WithEcKey(const std::string& cert_der);

// Runs `signer->SignWithAlgorithm` on a new worker thread and waits for the
// callback; returns what it received.
std::string SignOnWorker(const scoped_refptr<ClientAuthSigner>& signer,
                         uint16_t algorithm, const std::string& data);

// The severity letter (I, W, E or F) of the first record in `log` whose text,
// after the record's prefix, is exactly `text`; '-' when there is none.
char SeverityOf(const std::string& log, const std::string& text);

// The text of every record in `log`, in order: each line that has a record
// prefix, without that prefix.
std::vector<std::string> RecordTexts(const std::string& log);

// Names the credential files through the environment: KELM_CLIENT_CERT and
// KELM_CLIENT_PRIVKEY, and KELM_CLIENT_CERT_CHAIN unless `chain` is empty,
// when it is unset.
void SetCredentialPathVariables(const std::string& cert, const std::string& key,
                                const std::string& chain);

// A private temporary folder, removed with everything in it.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  ~ScopedTempDir();
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& contents) const;

 private:
  std::string path_;
};

}  // namespace vantorel::test

#endif  // INTERNAL_CERTIFICATE_TEST_CLIENT_AUTH_TEST_UTIL_H_
