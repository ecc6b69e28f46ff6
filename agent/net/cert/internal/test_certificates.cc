#include "agent/net/cert/internal/test_certificates.h"

#include <openssl/pool.h>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/der_test_builder.h"
#include "agent/net/cert/internal/parse_certificate.h"
#include "logging/check.h"

namespace net::test {

std::string ReadTestFile(const std::string& file_name) {
  const kelmbase::FilePath path =
      kelmbase::FilePath(KELM_CERT_TESTDATA_DIR).Append(file_name);
  std::string contents;
  CHECK(kelmbase::ReadFileToString(path, &contents)) << path.value();
  return contents;
}

std::string ReadTestCertDer(const std::string& name) {
  return ReadTestFile(name + ".der");
}

scoped_refptr<ParsedCertificate> ParseCertDer(const std::string& der,
                                              CertErrors* errors) {
  return ParsedCertificate::Create(
      bssl::UniquePtr<CRYPTO_BUFFER>(CRYPTO_BUFFER_new(
          reinterpret_cast<const uint8_t*>(der.data()), der.size(), nullptr)),
      ParseCertificateOptions(), errors);
}

scoped_refptr<ParsedCertificate> ParseTestCert(const std::string& name) {
  CertErrors errors;
  scoped_refptr<ParsedCertificate> cert =
      ParseCertDer(ReadTestCertDer(name), &errors);
  CHECK(cert) << name << ": " << errors.ToDebugString();
  return cert;
}

der::GeneralizedTime TestVerificationTime() {
  der::GeneralizedTime time;
  time.year = 2025;
  time.month = 6;
  time.day = 1;
  time.hours = 12;
  return time;
}

std::string ReplaceOuterSignatureAlgorithm(const std::string& der,
                                           const std::string& algorithm_tlv) {
  der::Input tbs;
  der::Input algorithm;
  der::BitString signature;
  CHECK(ParseCertificate(der::Input(der), &tbs, &algorithm, &signature,
                         nullptr));
  std::string signature_value(1, static_cast<char>(signature.unused_bits()));
  signature_value += signature.bytes().AsString();
  return Sequence(tbs.AsString() + algorithm_tlv +
                  Tlv(der::kBitString, signature_value));
}

}  // namespace net::test
