#include "internal/certificate/test/client_auth_test_util.h"

#include <openssl/bio.h>
#include <openssl/digest.h>
#include <openssl/ec_key.h>
#include <openssl/evp.h>
#include <openssl/mem.h>
#include <openssl/nid.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <utility>

#include "agent/base/files/file_enumerator.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/functional/bind.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/test/log_records.h"
#include "agent/base/test/test_temp_dir.h"
#include "agent/base/threading/thread.h"
#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"
#include "logging/check.h"

namespace vantorel::test {

std::string ReadFileOrEmpty(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::string DevPkiFile(const char* name) {
  return ReadFileOrEmpty(std::string(KELM_DEV_PKI_DIR) + "/" + name);
}

std::vector<std::string> EntryNames(const std::string& dir) {
  std::vector<std::string> names;
  kelmbase::FileEnumerator entries(
      kelmbase::FilePath(dir), false,
      kelmbase::FileEnumerator::kFiles |
          kelmbase::FileEnumerator::kDirectories |
          kelmbase::FileEnumerator::kShowSymLinks);
  for (kelmbase::FilePath name = entries.Next(); !name.empty();
       name = entries.Next()) {
    names.push_back(name.BaseName().value());
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

std::string CertToDer(X509* cert) {
  uint8_t* der = nullptr;
  const int length = i2d_X509(cert, &der);
  CHECK(length > 0);
  std::string out(reinterpret_cast<const char*>(der),
                  static_cast<size_t>(length));
  OPENSSL_free(der);
  return out;
}

}  // namespace

std::string DerToPem(const std::string& der) {
  const uint8_t* cursor = reinterpret_cast<const uint8_t*>(der.data());
  bssl::UniquePtr<X509> cert(
      d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  CHECK(cert);
  bssl::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  CHECK(PEM_write_bio_X509(bio.get(), cert.get()));
  const uint8_t* contents = nullptr;
  size_t length = 0;
  BIO_mem_contents(bio.get(), &contents, &length);
  return std::string(reinterpret_cast<const char*>(contents), length);
}

std::string WithEcKey(const std::string& cert_der) {
  const uint8_t* cursor = reinterpret_cast<const uint8_t*>(cert_der.data());
  bssl::UniquePtr<X509> cert(
      d2i_X509(nullptr, &cursor, static_cast<long>(cert_der.size())));
  CHECK(cert);
  bssl::UniquePtr<EC_KEY> ec_key(
      EC_KEY_new_by_curve_name(NID_X9_62_prime256v1));
  CHECK(ec_key && EC_KEY_generate_key(ec_key.get()));
  bssl::UniquePtr<EVP_PKEY> key(EVP_PKEY_new());
  CHECK(key && EVP_PKEY_set1_EC_KEY(key.get(), ec_key.get()));
  CHECK(X509_set_pubkey(cert.get(), key.get()));

  const std::string issuer_key_pem =
      DevPkiFile("model_intermediate_ca.key.pem");
  bssl::UniquePtr<BIO> bio(
      BIO_new_mem_buf(issuer_key_pem.data(), issuer_key_pem.size()));
  bssl::UniquePtr<EVP_PKEY> issuer_key(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  CHECK(issuer_key);
  CHECK(X509_sign(cert.get(), issuer_key.get(), EVP_sha256()));
  return CertToDer(cert.get());
}

namespace {

std::string PemToDer(const std::string& pem) {
  bssl::UniquePtr<BIO> bio(BIO_new_mem_buf(pem.data(), pem.size()));
  bssl::UniquePtr<X509> cert(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  CHECK(cert);
  return CertToDer(cert.get());
}

}  // namespace

DeviceCredentials MakeDeviceCredentials() {
  DeviceCredentials creds;
  std::string cert = PemToDer(DevPkiFile("model_template.pem"));
  CHECK(kelm_auth::GenerateDeviceKeyAndCert("DA:4E:71:5A:00:01",
                                            &creds.wrapped_key, &cert));
  creds.device_cert_der = cert;
  creds.device_cert_pem = DerToPem(cert);
  creds.intermediates_pem = DevPkiFile("model_intermediate_ca.pem");
  creds.intermediate_ders.push_back(PemToDer(creds.intermediates_pem));
  return creds;
}

std::string SignOnWorker(const scoped_refptr<ClientAuthSigner>& signer,
                         uint16_t algorithm, const std::string& data) {
  kelmbase::WaitableEvent done;
  std::string result = "not called";
  kelmbase::Thread worker("Test Requester");
  CHECK(worker.Start());
  worker.GetTaskRunner()->PostTask(
      FROM_HERE,
      kelmbase::BindOneShot(
          [](scoped_refptr<ClientAuthSigner> signer, uint16_t algorithm,
             std::string data, std::string* result,
             kelmbase::WaitableEvent* done) {
            signer->SignWithAlgorithm(
                algorithm, data,
                kelmbase::BindOneShot(
                    [](std::string* result, kelmbase::WaitableEvent* done,
                       const std::string& signature) {
                      *result = signature;
                      done->Signal();
                    },
                    result, done));
          },
          signer, algorithm, data, &result, &done));
  done.Wait();
  worker.Stop();
  return result;
}

char SeverityOf(const std::string& log, const std::string& text) {
  for (const kelmbase::test::LogRecord& record :
       kelmbase::test::ParseLogRecords(log)) {
    if (record.text == text) return record.severity;
  }
  return '-';
}

void SetCredentialPathVariables(const std::string& cert, const std::string& key,
                                const std::string& chain) {
  setenv("KELM_CLIENT_CERT", cert.c_str(), 1);
  setenv("KELM_CLIENT_PRIVKEY", key.c_str(), 1);
  if (chain.empty()) {
    unsetenv("KELM_CLIENT_CERT_CHAIN");
  } else {
    setenv("KELM_CLIENT_CERT_CHAIN", chain.c_str(), 1);
  }
}

std::vector<std::string> RecordTexts(const std::string& log) {
  std::vector<std::string> texts;
  for (kelmbase::test::LogRecord& record :
       kelmbase::test::ParseLogRecords(log)) {
    texts.push_back(std::move(record.text));
  }
  return texts;
}

ScopedTempDir::ScopedTempDir() {
  path_ = kelmbase::test::CreateTestTempDir("client_auth_test.");
  CHECK(!path_.empty());
}

ScopedTempDir::~ScopedTempDir() {
  kelmbase::DoDeleteFile(kelmbase::FilePath(path_), /*recursive=*/true);
}

std::string ScopedTempDir::Write(const std::string& name,
                                 const std::string& contents) const {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary);
  out << contents;
  return file;
}

}  // namespace vantorel::test
