#include "internal/certificate/platform_client_auth_creds.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "internal/certificate/cert_util.h"
#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"
#include "logging/log.h"

namespace vantorel {

namespace {

struct DigestInfoPrefix {
  const uint8_t* prefix;
  size_t prefix_length;
  size_t digest_length;
};

// The DER DigestInfo headers of RFC 8017 (section 9.2, note 1).
constexpr uint8_t kSha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b,
                                   0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04,
                                   0x14};
constexpr uint8_t kSha256Prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                     0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                     0x01, 0x05, 0x00, 0x04, 0x20};

constexpr DigestInfoPrefix kDigestInfoPrefixes[] = {
    {kSha1Prefix, sizeof(kSha1Prefix), 20},
    {kSha256Prefix, sizeof(kSha256Prefix), 32},
};

// Signs with the wrapped key through the platform library.
class PlatformClientAuthRsaSigner : public ClientAuthCreds::RsaSigner {
 public:
  explicit PlatformClientAuthRsaSigner(std::string wrapped_key)
      : wrapped_key_(std::move(wrapped_key)) {}

  // A bare SHA-1 or SHA-256 digest gets its DigestInfo header first; any
  // other input is taken to be a DigestInfo already.
  std::string Sign(const std::string& input) override {
    std::string block = input;
    for (const DigestInfoPrefix& row : kDigestInfoPrefixes) {
      if (input.size() != row.digest_length) continue;
      block.insert(0, reinterpret_cast<const char*>(row.prefix),
                   row.prefix_length);
      break;
    }
    std::string signature;
    if (!kelm_auth::SignHash(wrapped_key_, block, &signature)) return {};
    return signature;
  }

 private:
  ~PlatformClientAuthRsaSigner() override = default;

  const std::string wrapped_key_;
};

// The chain text the credentials hold, from the texts of the certificate
// file and the chain file; on failure (logged), the chain file's text.
std::string ChainText(const std::string& cert_text, std::string chain_text) {
  const std::vector<std::string> certs = SplitCertificateChain(cert_text);
  if (certs.empty()) {
    LOG(ERROR) << "Error parsing certificate chain - not enough certificates.";
    return chain_text;
  }
  int32_t signature_len = 0;
  if (!GetSignatureLen(certs.front(), &signature_len)) {
    LOG(ERROR) << "Couldn't obtain client certificate signature length.";
    return chain_text;
  }
  std::string chain;
  size_t chain_length;
  const char* source;
  if (certs.size() == 1) {
    chain = cert_text + chain_text;
    chain_length = SplitCertificateChain(chain_text).size();
    source = "FROM_CHAIN";
  } else {
    chain = cert_text;
    chain_length = certs.size() - 1;
    source = "FROM_CERT";
  }
  LOG(INFO) << "Loaded client certificate. Key len = " << signature_len * 8
            << " bits. Chain len = " << chain_length << " (source " << source
            << ").";
  return chain;
}

}  // namespace

struct PlatformClientAuthCreds::CertificateFiles {
  std::string chain_pem;
  bool unreadable = false;
  bool chain_checked = false;
};

PlatformClientAuthCreds::CertificateFiles
PlatformClientAuthCreds::LoadCertificateFiles() {
  CertificateFiles files;
  std::string cert_text;
  std::string chain_text;
  // LoadClientCertificateAndChain, keeping what the certificate's read came
  // to.
  ReadOutcome cert_read = ReadOutcome::kMissing;
  const bool cert_loaded = LoadClientCertificate(&cert_text, &cert_read);
  const bool chain_loaded =
      cert_loaded && LoadClientCertificateChain(&chain_text);
  files.chain_checked = cert_loaded;
  // The chain loader fails only for a named chain file that it could not
  // read.
  files.unreadable =
      cert_read == ReadOutcome::kUnreadable || (cert_loaded && !chain_loaded);
  if (!chain_loaded) {
    LOG(ERROR) << "Error reading client certificate files.";
    files.chain_pem = std::move(chain_text);
    return files;
  }
  files.chain_pem = ChainText(cert_text, std::move(chain_text));
  return files;
}

PlatformClientAuthCreds::PlatformClientAuthCreds()
    : PlatformClientAuthCreds(LoadCertificateFiles()) {}

PlatformClientAuthCreds::PlatformClientAuthCreds(CertificateFiles files)
    : ClientAuthCreds(std::move(files.chain_pem), false),
      found_unreadable_file_(files.unreadable),
      chain_file_checked_(files.chain_checked) {
  ReadOutcome key_read = ReadOutcome::kMissing;
  if (!LoadClientPrivateKey(&wrapped_key_, &key_read)) {
    LOG(ERROR) << "Error reading private key file.";
    wrapped_key_.clear();
    if (key_read == ReadOutcome::kUnreadable) found_unreadable_file_ = true;
  }
}

PlatformClientAuthCreds::~PlatformClientAuthCreds() = default;

scoped_refptr<ClientAuthCreds::RsaSigner>
PlatformClientAuthCreds::CreateRsaSigner() {
  return kelmbase::MakeRefCounted<PlatformClientAuthRsaSigner>(wrapped_key_);
}

}  // namespace vantorel
