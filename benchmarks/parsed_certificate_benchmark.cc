// ParsedCertificate::Create against BoringSSL's d2i_X509 over the same DER
// bytes: a 2048-bit RSA leaf with the extensions of a client certificate.
// Both sides parse afresh on every iteration; Create takes the certificate
// as the CRYPTO_BUFFER its callers already hold (a new reference to one
// buffer made up front), d2i_X509 takes the bytes.

#include <openssl/pool.h>
#include <openssl/x509.h>

#include <string>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/net/cert/internal/parsed_certificate.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"
#include "logging/check.h"

namespace {

const std::string& LeafDer() {
  static const std::string* der = [] {
    auto* contents = new std::string();
    CHECK(kelmbase::ReadFileToString(
        kelmbase::FilePath(KELM_CERT_TESTDATA_DIR).Append("leaf.der"),
        contents));
    return contents;
  }();
  return *der;
}

void BM_ParsedCertificateCreate(benchmark::State& state) {
  const std::string& der = LeafDer();
  bssl::UniquePtr<CRYPTO_BUFFER> buffer(CRYPTO_BUFFER_new(
      reinterpret_cast<const uint8_t*>(der.data()), der.size(), nullptr));
  for (auto _ : state) {
    scoped_refptr<net::ParsedCertificate> cert = net::ParsedCertificate::Create(
        bssl::UpRef(buffer), net::ParseCertificateOptions(), nullptr);
    CHECK(cert);
    benchmark::DoNotOptimize(cert.get());
  }
}
BENCHMARK(BM_ParsedCertificateCreate);

void BM_BoringSslD2iX509(benchmark::State& state) {
  const std::string& der = LeafDer();
  for (auto _ : state) {
    const auto* p = reinterpret_cast<const uint8_t*>(der.data());
    bssl::UniquePtr<X509> cert(d2i_X509(nullptr, &p, der.size()));
    CHECK(cert);
    benchmark::DoNotOptimize(cert.get());
  }
}
BENCHMARK(BM_BoringSslD2iX509);

// How many times faster our parse is (the target is at least 3).
const kelm_bench::RatioRegistration kRatio(
    "BoringSSL d2i_X509 / ParsedCertificate::Create", "BM_BoringSslD2iX509",
    "BM_ParsedCertificateCreate");

}  // namespace
