#include "internal/certificate/cert_util.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pool.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>
#include <utility>

#include "agent/base/command_line.h"
#include "agent/base/environment.h"
#include "agent/base/files/file_path.h"
#include "agent/base/strings/string_split.h"
#include "agent/base/time/time.h"
#include "internal/certificate/credential_file.h"
#include "logging/log.h"
#include "paths/kelm_core_paths.h"

namespace vantorel {

namespace {

constexpr char kPemEndMarker[] = "\n-----END CERTIFICATE-----\n";

struct CredentialFileNames {
  const char* switch_name;
  const char* variable;
};

CredentialFileNames NamesOf(CredentialFile file) {
  switch (file) {
    case CredentialFile::kCertificate:
      return {"kelm_client_cert", "KELM_CLIENT_CERT"};
    case CredentialFile::kKey:
      return {"kelm_client_privkey", "KELM_CLIENT_PRIVKEY"};
    case CredentialFile::kChain:
      return {"kelm_client_cert_chain", "KELM_CLIENT_CERT_CHAIN"};
  }
  return {"", ""};
}

}  // namespace

bool FindCredentialPath(CredentialFile file, std::string* path,
                        PathOrigin* origin) {
  const CredentialFileNames names = NamesOf(file);
  // A path switch is used as named, never replaced because it is not ASCII.
  if (kelmbase::CommandLine::IsInitialized()) {
    *path = kelmbase::CommandLine::Current()->GetSwitchValue(names.switch_name);
    *origin = PathOrigin::kSwitch;
    if (!path->empty()) return true;
  }
  *path = GetEnvVar(names.variable);
  *origin = PathOrigin::kEnvironment;
  if (!path->empty()) return true;
  *origin = PathOrigin::kDefault;
  switch (file) {
    case CredentialFile::kCertificate:
      return kelm_core::TryGetClientCertPath(path);
    case CredentialFile::kKey:
      return kelm_core::TryGetClientKeyPath(path);
    case CredentialFile::kChain:
      *path = kDefaultCertChainPath;
      return true;
  }
  return false;
}

std::string UnresolvableHomeText() {
  // The home folder is HOME's, else the temporary folder's.
  std::string variable = "HOME";
  std::string value = GetEnvVar("HOME");
  if (value.empty()) {
    variable = "TMPDIR";
    value = GetEnvVar("TMPDIR");
  }
  return "the home folder " + variable + "=" + PathForRecord(value) +
         " has a \"..\" component that leads to no folder, so the default "
         "credential files cannot be found";
}

std::string GetEnvVar(const char* name) {
  std::string value;
  kelmbase::Environment::Create()->GetVar(name, &value);
  return value;
}

bool LoadClientCertificate(std::string* pem) {
  ReadOutcome outcome;
  return LoadClientCertificate(pem, &outcome);
}

bool LoadClientCertificate(std::string* pem, ReadOutcome* outcome) {
  std::string path;
  PathOrigin origin;
  const bool found =
      FindCredentialPath(CredentialFile::kCertificate, &path, &origin);
  if (origin == PathOrigin::kDefault) {
    LOG(ERROR) << "Client certificate file is not specified, using default.";
  }
  if (!found) {
    pem->clear();
    *outcome = ReadOutcome::kUnreadable;
    LOG(ERROR) << "Couldn't load client certificate: "
               << UnresolvableHomeText() << ".";
    return false;
  }
  *outcome = ReadCredentialFile(path, kMaxCertificateFileSize, pem);
  if (*outcome != ReadOutcome::kRead) {
    LOG(ERROR) << "Couldn't load client certificate from file: "
               << PathForRecord(path);
    return false;
  }
  return true;
}

bool LoadClientPrivateKey(std::string* key) {
  ReadOutcome outcome;
  return LoadClientPrivateKey(key, &outcome);
}

bool LoadClientPrivateKey(std::string* key, ReadOutcome* outcome) {
  std::string path;
  PathOrigin origin;
  const bool found = FindCredentialPath(CredentialFile::kKey, &path, &origin);
  if (origin == PathOrigin::kDefault) {
    LOG(ERROR) << "Private key file is not specified, using default.";
  }
  if (!found) {
    key->clear();
    *outcome = ReadOutcome::kUnreadable;
    LOG(ERROR) << "Couldn't load client certificate private key: "
               << UnresolvableHomeText() << ".";
    return false;
  }
  *outcome = ReadCredentialFile(path, kMaxWrappedKeyFileSize, key);
  if (*outcome != ReadOutcome::kRead) {
    LOG(ERROR) << "Couldn't load client certificate private key.";
    return false;
  }
  return true;
}

bool LoadClientCertificateChain(std::string* pem) {
  std::string path;
  PathOrigin origin;
  FindCredentialPath(CredentialFile::kChain, &path, &origin);
  if (ReadCredentialFile(path, kMaxCertificateFileSize, pem) !=
      ReadOutcome::kRead) {
    // Devices whose certificate file holds the whole chain have no chain
    // file; only one that was asked for must exist.
    if (origin == PathOrigin::kDefault) return true;
    LOG(ERROR) << "Couldn't load client certificate chain.";
    return false;
  }
  return true;
}

bool LoadClientCertificateAndChain(std::string* cert, std::string* chain) {
  return LoadClientCertificate(cert) && LoadClientCertificateChain(chain);
}

std::vector<std::string> SplitCertificateChain(const std::string& pem) {
  if (pem.empty()) return {};
  std::vector<std::string> pieces = kelmbase::SplitBySubstring(
      pem, kPemEndMarker, kelmbase::kTrimWhitespace, kelmbase::kWantAll);
  if (pieces.size() < 2 || !pieces.back().empty()) {
    LOG(ERROR) << "Error parsing certificate chain.";
    return {};
  }
  pieces.pop_back();
  for (std::string& piece : pieces) piece += kPemEndMarker;
  return pieces;
}

bool GetRsaKeyFromCertPem(const std::string& cert_pem, RSA** rsa) {
  if (rsa == nullptr) return false;
  *rsa = nullptr;
  bssl::UniquePtr<BIO> bio(BIO_new_mem_buf(cert_pem.data(), cert_pem.size()));
  if (!bio) {
    LOG(ERROR) << "Error creating BIO in GetSignatureLen.";
    return false;
  }
  bssl::UniquePtr<X509> cert(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!cert) {
    LOG(ERROR) << "Error reading certificate in GetSignatureLen. cert_pem="
               << DescribeCredentialText(cert_pem);
    return false;
  }
  bssl::UniquePtr<EVP_PKEY> key(X509_get_pubkey(cert.get()));
  if (!key) return false;
  *rsa = EVP_PKEY_get1_RSA(key.get());
  return *rsa != nullptr;
}

bool GetSignatureLen(const std::string& cert_pem, int32_t* len) {
  if (len == nullptr) return false;
  RSA* rsa = nullptr;
  if (!GetRsaKeyFromCertPem(cert_pem, &rsa)) return false;
  bssl::UniquePtr<RSA> owned(rsa);
  *len = static_cast<int32_t>(RSA_size(rsa));
  return true;
}

std::vector<std::string> X509CertificateToDerList(
    scoped_refptr<net::X509Certificate> cert) {
  if (!cert) {
    LOG(ERROR) << "Certs missing,";
    return {};
  }
  if (cert->CertBuffer() == nullptr) {
    LOG(ERROR) << "Failed to get handle of certificate.";
    return {};
  }
  auto der_of = [](const CRYPTO_BUFFER* buffer) {
    return std::string(reinterpret_cast<const char*>(CRYPTO_BUFFER_data(buffer)),
                       CRYPTO_BUFFER_len(buffer));
  };
  std::vector<std::string> ders;
  ders.push_back(der_of(cert->CertBuffer()));
  for (const auto& intermediate : cert->IntermediateBuffers()) {
    ders.push_back(der_of(intermediate.get()));
  }
  return ders;
}

kelm_certificate::KelmCertError VerifyClientCert(
    const scoped_refptr<net::X509Certificate>& cert,
    kelm_certificate::Crl* crl, kelm_certificate::CrlPolicy crl_policy,
    int32_t* policy) {
  const std::vector<std::string> ders = X509CertificateToDerList(cert);
  std::unique_ptr<kelm_certificate::CertVerificationContext> context;
  // The validator writes the policy only once it has found a valid path;
  // otherwise the caller's value comes back unchanged.
  kelm_certificate::DeviceCertPolicy device_policy =
      policy != nullptr
          ? static_cast<kelm_certificate::DeviceCertPolicy>(*policy)
          : kelm_certificate::DeviceCertPolicy::NONE;
  const kelm_certificate::KelmCertError result =
      kelm_certificate::VerifyDeviceCertificate(
          ders, kelmbase::Time::Now(), &context, &device_policy, crl,
          crl_policy);
  if (policy != nullptr) *policy = device_policy;
  return result;
}

std::string CertErrorText(kelm_certificate::KelmCertError error) {
  return kelm_certificate::KelmCertErrorToString(error);
}

}  // namespace vantorel
