#ifndef INTERNAL_CERTIFICATE_CERT_UTIL_H_
#define INTERNAL_CERTIFICATE_CERT_UTIL_H_

// The credential files (where each lies and how it is read), PEM chain
// splitting, the RSA key size of a certificate, and the bridge from a
// certificate object to the device-certificate validator.
//
// Threads: any; the loaders do blocking file reads.

#include <openssl/base.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/components/kelm_certificate/kelm_cert_validator.h"
#include "agent/net/cert/x509_certificate.h"
#include "internal/certificate/credential_file.h"

namespace vantorel {

// The chain file read when neither switch nor variable names one.
inline constexpr char kDefaultCertChainPath[] = "/system/etc/cert_chain.pem";

// The credential files of a run.
enum class CredentialFile { kCertificate, kKey, kChain };

// Where a credential file's path came from.
enum class PathOrigin { kSwitch, kEnvironment, kDefault };

// The one lookup of a credential file's path, for every reader and writer:
// the switch's value, whatever its bytes; else the environment variable's
// (with its lower-case retry); else the default: the product path under the
// home folder for the certificate and the key, kDefaultCertChainPath for the
// chain. Logs nothing.
//   certificate: --kelm_client_cert, KELM_CLIENT_CERT
//   key:         --kelm_client_privkey, KELM_CLIENT_PRIVKEY
//   chain:       --kelm_client_cert_chain, KELM_CLIENT_CERT_CHAIN
// False, with `*origin` kDefault, only when the default is needed and the
// home folder cannot be resolved (kelm_core::TryGetClientCertPath);
// UnresolvableHomeText() says why.
bool FindCredentialPath(CredentialFile file, std::string* path,
                        PathOrigin* origin);

// Why FindCredentialPath found no default path, for a record: the variable
// the home folder comes from and its value (as PathForRecord shows it).
std::string UnresolvableHomeText();

// Each loader finds its file with FindCredentialPath (the default announced
// by an ERROR record for the certificate and the key) and reads it whole
// into the output (ReadCredentialFile: regular files only, at most
// kMaxCertificateFileSize bytes for the certificate and the chain,
// kMaxWrappedKeyFileSize for the key). False (logged) when the file cannot
// be read; the chain loader is true when the default chain file cannot be
// read.
bool LoadClientCertificate(std::string* pem);
bool LoadClientPrivateKey(std::string* key);
bool LoadClientCertificateChain(std::string* pem);

// The certificate, then the chain only when the certificate was read.
bool LoadClientCertificateAndChain(std::string* cert, std::string* chain);

// The certificate and key loaders, also telling in `*outcome` what reading
// the file came to, so that a caller can tell a missing file from one that
// is there but could not be read; the records are the same. The chain
// loader needs no such form: it fails only for a chain file that was named
// and could not be read, missing included.
bool LoadClientCertificate(std::string* pem, ReadOutcome* outcome);
bool LoadClientPrivateKey(std::string* key, ReadOutcome* outcome);

// The variable's value, or the empty string when it is not set.
std::string GetEnvVar(const char* name);

// The certificates of a PEM text, each ending with the end marker and its
// newline. Empty text gives an empty list; text whose last certificate is
// not followed by the full marker and only whitespace gives an empty list
// and an ERROR record.
std::vector<std::string> SplitCertificateChain(const std::string& pem);

// The RSA modulus size, in bytes, of the first certificate in `cert_pem`.
// False (logged) when it cannot be read or holds no RSA key.
bool GetSignatureLen(const std::string& cert_pem, int32_t* len);

// The RSA key of the first certificate in `cert_pem`; the caller frees
// `*rsa`. False, with `*rsa` null, when there is none.
bool GetRsaKeyFromCertPem(const std::string& cert_pem, RSA** rsa);

// The DER bytes of the certificate and then of each intermediate; empty
// (logged) without a certificate.
std::vector<std::string> X509CertificateToDerList(
    scoped_refptr<net::X509Certificate> cert);

// Runs the device-certificate validator over `cert`'s chain at the current
// time.
kelm_certificate::KelmCertError VerifyClientCert(
    const scoped_refptr<net::X509Certificate>& cert,
    kelm_certificate::Crl* crl, kelm_certificate::CrlPolicy crl_policy,
    int32_t* policy);

// "KelmCertError::<NAME>".
std::string CertErrorText(kelm_certificate::KelmCertError error);

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_CERT_UTIL_H_
