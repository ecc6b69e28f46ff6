#ifndef INTERNAL_CERTIFICATE_TARVIK_CLIENT_AUTH_GENERATOR_H_
#define INTERNAL_CERTIFICATE_TARVIK_CLIENT_AUTH_GENERATOR_H_

#include <cstddef>
#include <string>
#include <vector>

#include "agent/base/time/time.h"

namespace kelmbase {
class WaitableEvent;
}  // namespace kelmbase

namespace vantorel {
class ClientAuthManager;
}  // namespace vantorel

// The tool's four actions. Each runs synchronously on the calling thread,
// logs its own reasons for failing and returns whether it succeeded.
//
// Create and delete hold the credential lock (see credential_lock.h)
// exclusively for their whole run; verify holds it shared while it reads
// the files, and so does ensure, which takes it exclusively only once it
// must create.
//
// Every action first finds the three credential paths (switch, else
// environment variable, else default) and fails, touching nothing, when a
// default lies under a home folder that cannot be resolved or a path has a
// ".." component. Each writer also refuses, before it changes anything, a
// switch that tarvik does not read (a misspelt path switch would send a
// file to the default place), a certificate path and a key path that name
// one file or may, and anything at either path that is not a regular file,
// a symbolic link or an empty folder. Verify ignores unknown switches.
class ClientAuthGenerator {
 public:
  // How long verify waits for the test signature before it gives up on the
  // platform library.
  static constexpr kelmbase::Duration kSigningTimeout =
      kelmbase::Duration::FromSeconds(60);

  // `manager` is not owned and must outlive the generator.
  explicit ClientAuthGenerator(vantorel::ClientAuthManager* manager);
  ClientAuthGenerator(const ClientAuthGenerator&) = delete;
  ClientAuthGenerator& operator=(const ClientAuthGenerator&) = delete;
  ~ClientAuthGenerator();

  // Checks that the stored credentials work: the chain matches the model
  // chain, the device certificate carries an SSID where the model template
  // has its placeholder, and "TEST" signed with the key on a thread of its
  // own ("Tarvik Aux Thread", through the manager's signing thread)
  // verifies against the device certificate. Blocks until the signature
  // arrives, for at most kSigningTimeout; a request that is dropped on the
  // way ends the wait too. When the time runs out the signing thread is
  // stuck in the platform library: see signing_abandoned().
  bool Verify();

  // Removes the certificate file, then (only when that worked) the key file.
  // A missing file counts as removed.
  bool Delete();

  // Has the platform library generate a device key and certificate for a
  // random SSID, and replaces the pair with the chain (device certificate
  // first, then the model chain without its template) and the wrapped key.
  // Both new files are written in full beside their targets before the old
  // pair is touched: any failure up to then leaves the old pair as it was.
  bool Create();

  // Verify, and Create when verify found a fault of the pair: a credential
  // file missing or unparsable, a chain unlike the model chain, a wrong SSID
  // byte, a signature that could not be made or did not verify. Verify's
  // step takes the lock as Verify does, so that a working pair needs nothing
  // a reader may lack. Before it creates, ensure takes the lock exclusively
  // and verifies again: another run may just have made a pair. For every
  // other fault it makes nothing (one ERROR record beginning "Ensure: " says
  // why, and it fails): a credential file that could not be read, the chain
  // file included, a lock that could not be had, a platform library that
  // did not answer or gave no usable model chain or template, a signing
  // thread that could not start.
  bool Ensure();

  // Whether verify gave up waiting for the signing thread. That thread is
  // then blocked in the platform library for good: the process must end
  // without joining it.
  bool signing_abandoned() const { return signing_abandoned_; }

  // The credential file paths: the switches kelm_client_cert and
  // kelm_client_privkey, else the variables KELM_CLIENT_CERT and
  // KELM_CLIENT_PRIVKEY, else the product defaults (logged), as
  // vantorel::FindCredentialPath finds them. Always true; a default under a
  // home folder that cannot be resolved is a fatal CHECK here, which the
  // actions rule out before they call this.
  static bool GetCertAndKeyPaths(std::string* cert_file, std::string* key_file);

  // Removes one file, symbolic link or empty folder (not recursively); true
  // when it is gone or was never there. Anything else is refused (logged).
  static bool RemoveFile(const std::string& path);

  // Replaces the file at `path` with `data`, mode 0644, making missing
  // parent folders (mode 0700 under the tool's umask). The new content goes
  // to a temporary file beside the target, is flushed to disk and renamed
  // over the target, so an interrupted write never leaves a torn file.
  // A FIFO, socket, device or non-empty folder at `path` is refused.
  static bool WriteStringToFile(const std::string& path,
                                const std::string& data);

  // The bytes that the hexadecimal text stands for; stops at the first pair
  // that is not hexadecimal.
  static std::string HexToBytes(const std::string& hex);

  // Finds the bytes that `hex_pattern` stands for in `data`: their offset
  // and length. An empty pattern matches at 0 with length 0.
  static bool FindHexPattern(const std::string& data,
                             const std::string& hex_pattern, size_t* offset,
                             size_t* length);

 private:
  // What verify came to, as far as ensure must know: whether new
  // credentials would mend a failure.
  enum class Verdict {
    kWorks,
    // A fault of the pair, which a new pair mends: a credential file missing
    // or unparsable, a chain unlike the model chain, a wrong SSID byte, a
    // signature that could not be made or did not verify.
    kBroken,
    // As kBroken, and the certificate file is missing, so the chain file,
    // which no action writes, was not looked at.
    kBrokenChainUnchecked,
    // No new pair mends any of the rest.
    // A credential file could not be read (see
    // PlatformClientAuthCreds::found_unreadable_file()).
    kUnreadable,
    // The lock could not be had.
    kNoLock,
    // The platform library did not answer: see signing_abandoned().
    kNoAnswer,
    // The manager made no signer.
    kNoSigner,
    // The platform library gave no model chain, or one that cannot be
    // parsed.
    kNoModelChain,
    // The model template holds no BSSID placeholder.
    kNoPlaceholder,
    // The thread that asks for the test signature could not start.
    kNoAuxThread,
  };

  // Verify's work on the pair whose key file is `key_path`; `lock_files`
  // false when the caller holds the lock.
  Verdict VerifyCredentials(const std::string& key_path, bool lock_files);

  // Whether ensure may replace credentials that verify found as `verdict`
  // (not kWorks); when not, logs why.
  static bool CreateWouldMend(Verdict verdict);

  vantorel::ClientAuthManager* const manager_;
  bool signing_abandoned_ = false;
};

// A random SSID: "DA:4E:71:" and three upper-case hex octets, the first
// 50-9F, joined by colons. Logs "GetSSID: value=<ssid>".
std::string GetSSID();

// The DER bytes of every certificate in a PEM chain, in file order, appended
// to `ders`: every block that PEM_X509_INFO_read_bio takes as a certificate
// ("CERTIFICATE", "X509 CERTIFICATE", "TRUSTED CERTIFICATE"). Blocks that it
// skips, such as public keys, are passed over. False (logged) for text that
// it cannot read or that holds no certificate, and at the first private key
// (under any label) or CRL, with the certificates before it appended.
bool PemCertChainToDerList(const std::string& pem,
                           std::vector<std::string>* ders);

// The reply of verify's signing request: copies the signature, then signals
// the event the main thread waits on.
void StoreSignatureAndSignal(std::string* out, kelmbase::WaitableEvent* event,
                             const std::string& signature);

// Appends the PEM form of each DER certificate to `pem`. False (logged) for
// bytes that are not a certificate.
bool DerCertListToPemChain(const std::vector<std::string>& ders,
                           std::string* pem);

#endif  // INTERNAL_CERTIFICATE_TARVIK_CLIENT_AUTH_GENERATOR_H_
