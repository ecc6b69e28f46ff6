#include "internal/certificate/client_auth_creds.h"

#include <openssl/digest.h>
#include <openssl/evp.h>
#include <openssl/mem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/time/time.h"
#include "agent/crypto/crypto_init.h"
#include "internal/certificate/credential_file.h"
#include "internal/certificate/device_policy.h"
#include "internal/certificate/metrics_recorder.h"
#include "logging/log.h"

namespace vantorel {

namespace {

// Signs with a credential source's RSA signer on the signing thread; the
// result comes back as a task on the thread that asked.
class SSLPrivateKeyKelmInternal : public net::SSLPrivateKey {
 public:
  SSLPrivateKeyKelmInternal(scoped_refptr<ClientAuthCreds::RsaSigner> signer,
                            scoped_refptr<kelmbase::TaskRunner> signing_runner)
      : rsa_signer_(std::move(signer)),
        algorithms_{SSL_SIGN_RSA_PKCS1_SHA256, SSL_SIGN_RSA_PKCS1_SHA1},
        signing_runner_(std::move(signing_runner)) {}

  std::string ProviderLabel() override { return std::string(); }

  std::vector<uint16_t> SupportedAlgorithms() override { return algorithms_; }

  // Must run on a thread with a current sequenced runner: the reply comes
  // back there.
  void Sign(uint16_t algorithm, kelmbase::span<const uint8_t> input,
            SignCallback callback) override;

 private:
  ~SSLPrivateKeyKelmInternal() override = default;

  const scoped_refptr<ClientAuthCreds::RsaSigner> rsa_signer_;
  const std::vector<uint16_t> algorithms_;
  const scoped_refptr<kelmbase::TaskRunner> signing_runner_;
};

// On the signing thread: hashes `input` for the scheme, wraps the digest in
// its DigestInfo and has the RSA signer sign it.
net::Error DoSign(scoped_refptr<ClientAuthCreds::RsaSigner> signer,
                  uint16_t algorithm, kelmbase::span<const uint8_t> input,
                  std::vector<uint8_t>* signature) {
  if (!signer) {
    LOG(ERROR) << "Null signer in SSLPrivateKeyKelmInternal::Sign!";
    return net::ERR_SSL_CLIENT_AUTH_SIGNATURE_FAILED;
  }
  if (SSL_get_signature_algorithm_key_type(algorithm) != EVP_PKEY_RSA) {
    LOG(ERROR) << "SSLPrivateKeyKelmInternal only supports RSA operations.";
    return net::ERR_SSL_CLIENT_AUTH_SIGNATURE_FAILED;
  }
  const EVP_MD* md = SSL_get_signature_algorithm_digest(algorithm);
  const int hash_nid = md != nullptr ? EVP_MD_type(md) : NID_undef;
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int digest_len = 0;
  if (md == nullptr || hash_nid == NID_undef ||
      !EVP_Digest(input.data(), input.size(), digest, &digest_len, md,
                  nullptr)) {
    LOG(ERROR) << "Not implemented reached in "
               << "net::Error vantorel::(anonymous namespace)::DoSign("
                  "scoped_refptr<ClientAuthCreds::RsaSigner>, uint16_t, "
                  "kelmbase::span<const uint8_t>, std::vector<uint8_t> *)"
               << ": Unsupported hash algorithm.";
    return net::ERR_SSL_CLIENT_AUTH_SIGNATURE_FAILED;
  }

  uint8_t* digest_info = nullptr;
  size_t digest_info_len = 0;
  int is_alloced = 0;
  if (!RSA_add_pkcs1_prefix(&digest_info, &digest_info_len, &is_alloced,
                            hash_nid, digest, digest_len)) {
    LOG(ERROR) << "Unable to add PKCS1 prefix.";
    return net::ERR_SSL_CLIENT_AUTH_SIGNATURE_FAILED;
  }
  bssl::UniquePtr<uint8_t> owned_digest_info(is_alloced ? digest_info
                                                        : nullptr);

  const kelmbase::MonotonicTime start = kelmbase::MonotonicTime::Now();
  const std::string result = signer->Sign(std::string(
      reinterpret_cast<const char*>(digest_info), digest_info_len));
  RecordTimeHistogram(
      kSSLPrivateKeyDoSignHistogram,
      static_cast<int>((kelmbase::MonotonicTime::Now() - start)
                           .InMilliseconds()),
      0, 15000, 30, 1);

  if (result.empty()) {
    LOG(ERROR) << "Could not sign message in SSLPrivateKeyKelmInternal::Sign!";
    return net::ERR_SSL_CLIENT_AUTH_SIGNATURE_FAILED;
  }
  signature->assign(result.begin(), result.end());
  return net::OK;
}

// Runs `task` on `runner` and then `reply` with the task's result on the
// calling sequence. The result lives on the heap, owned by the reply.
void PostDoSign(
    const scoped_refptr<kelmbase::TaskRunner>& runner,
    const kelmbase::Location& from_here,
    kelmbase::OneShotCallback<net::Error()> task,
    kelmbase::OneShotCallback<void(net::Error)> reply) {
  auto result = std::make_unique<net::Error>(
      net::ERR_SSL_CLIENT_AUTH_SIGNATURE_FAILED);
  net::Error* result_slot = result.get();
  runner->PostTaskAndReply(
      from_here,
      kelmbase::BindOneShot(
          [](kelmbase::OneShotCallback<net::Error()> task, net::Error* out) {
            *out = std::move(task).Run();
          },
          std::move(task), result_slot),
      kelmbase::BindOneShot(
          [](kelmbase::OneShotCallback<void(net::Error)> reply,
             std::unique_ptr<net::Error> result) {
            std::move(reply).Run(*result);
          },
          std::move(reply), std::move(result)));
}

void SSLPrivateKeyKelmInternal::Sign(uint16_t algorithm,
                                     kelmbase::span<const uint8_t> input,
                                     SignCallback callback) {
  auto signature = std::make_unique<std::vector<uint8_t>>();
  std::vector<uint8_t>* signature_slot = signature.get();
  std::vector<uint8_t> input_copy(input.begin(), input.end());

  auto task = kelmbase::BindOneShot(
      [](scoped_refptr<ClientAuthCreds::RsaSigner> signer, uint16_t algorithm,
         std::vector<uint8_t> input, std::vector<uint8_t>* signature) {
        return DoSign(std::move(signer), algorithm,
                      kelmbase::span<const uint8_t>(input), signature);
      },
      rsa_signer_, algorithm, std::move(input_copy), signature_slot);
  auto reply = kelmbase::BindOneShot(
      [](SignCallback callback, std::unique_ptr<std::vector<uint8_t>> signature,
         net::Error error) {
        std::move(callback).Run(error, std::move(*signature));
      },
      std::move(callback), std::move(signature));
  PostDoSign(signing_runner_, FROM_HERE, std::move(task), std::move(reply));
}

}  // namespace

ClientAuthCreds::ClientAuthCreds(std::string cert_chain_pem, bool flag)
    : cert_chain_pem_(std::move(cert_chain_pem)), flag_(flag) {}

ClientAuthCreds::~ClientAuthCreds() = default;

scoped_refptr<net::SSLPrivateKey> ClientAuthCreds::CreateSSLPrivateKey(
    scoped_refptr<kelmbase::TaskRunner> signing_runner) {
  scoped_refptr<RsaSigner> signer = CreateRsaSigner();
  if (!signer) {
    LOG(ERROR) << "No RsaSigner available.";
    return nullptr;
  }
  return kelmbase::MakeRefCounted<SSLPrivateKeyKelmInternal>(
      std::move(signer), std::move(signing_runner));
}

bool ImportClientAuthCreds(ClientAuthCreds* creds,
                           scoped_refptr<kelmbase::TaskRunner> signing_runner,
                           scoped_refptr<net::X509Certificate>* cert,
                           scoped_refptr<net::SSLPrivateKey>* key) {
  crypto::EnsureCryptoInit();
  const std::string& pem = creds->cert_chain_pem();
  if (pem.empty()) {
    LOG(ERROR) << "Empty certs string.";
    return false;
  }
  std::vector<scoped_refptr<net::X509Certificate>> certs =
      net::X509Certificate::CreateListFromBytes(
          pem.data(), pem.size(),
          net::X509Certificate::CERT_FORMAT_PEM_SEQUENCE);
  if (certs.empty()) {
    LOG(ERROR) << "Failed to parse client auth cert chain.";
    LOG(ERROR) << "Certs: " << DescribeCredentialText(pem);
    LOG(ERROR) << "Failed to import client auth cert.";
    return false;
  }
  if (IsPiiLoggingEnabled()) {
    LOG(INFO) << "[PII] " << "Device cert: "
              << certs.front()->Subject().DisplayName();
  }
  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> intermediates;
  for (size_t i = 1; i < certs.size(); ++i) {
    // Roots add nothing a peer could use to build the path.
    if (certs[i]->IsSelfSigned()) continue;
    LOG(INFO) << "Intermediate cert: " << certs[i]->Subject().DisplayName();
    CRYPTO_BUFFER_up_ref(certs[i]->CertBuffer());
    intermediates.emplace_back(certs[i]->CertBuffer());
  }
  CRYPTO_BUFFER_up_ref(certs.front()->CertBuffer());
  scoped_refptr<net::X509Certificate> imported =
      net::X509Certificate::CreateFromCertBuffer(
          bssl::UniquePtr<CRYPTO_BUFFER>(certs.front()->CertBuffer()),
          std::move(intermediates));
  if (!imported) {
    LOG(ERROR) << "Failed to import client auth cert.";
    return false;
  }
  LOG(INFO) << "Imported client auth cert.";

  scoped_refptr<net::SSLPrivateKey> imported_key =
      creds->CreateSSLPrivateKey(std::move(signing_runner));
  if (!imported_key) return false;
  LOG(INFO) << "Imported client auth private key";
  *cert = std::move(imported);
  *key = std::move(imported_key);
  return true;
}

}  // namespace vantorel
