// Validating a device chain (device certificate, model intermediate, root)
// from PEM: our device-certificate validator against OpenSSL 3's
// X509_verify_cert, as `openssl verify` runs it, on the same files. Both
// sides parse the PEM afresh on every iteration; OpenSSL gets a fresh store
// with the root each time, while our validator's roots are built in.

#include <string>
#include <vector>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/time/time.h"
#include "agent/components/kelm_certificate/kelm_cert_validator.h"
#include "agent/net/cert/pem.h"
#include "benchmark/benchmark.h"
#include "benchmarks/openssl_peer/openssl_peer.h"
#include "benchmarks/ratio.h"
#include "logging/check.h"

namespace {

std::string ReadText(const char* dir, const char* name) {
  std::string contents;
  CHECK(kelmbase::ReadFileToString(kelmbase::FilePath(dir).Append(name),
                                   &contents));
  return contents;
}

struct Fixture {
  Fixture()
      : device(ReadText(KELM_VALIDATOR_TESTDATA_DIR, "device.pem")),
        intermediate(ReadText(KELM_DEV_PKI_DIR, "model_intermediate_ca.pem")),
        root(ReadText(KELM_DEV_PKI_DIR, "root_ca_1.pem")) {
    openssl_peer::Load(KELM_OPENSSL_CRYPTO_LIBRARY);
    kelmbase::Time::Breakdown breakdown = {};
    breakdown.year = 2028;
    breakdown.month = 1;
    breakdown.day_of_month = 1;
    CHECK(kelmbase::Time::FromBreakdown(false, breakdown, &time));
  }
  std::string device;
  std::string intermediate;
  std::string root;
  // 2028-01-01 00:00:00 UTC, inside every certificate of the chain.
  kelmbase::Time time;
  static constexpr time_t kTimeT = 1830297600;
};

const Fixture& GetFixture() {
  static const Fixture* fixture = new Fixture();
  return *fixture;
}

// The DER of every certificate block of `pem`, appended to `ders`.
void AppendDer(const std::string& pem, std::vector<std::string>* ders) {
  net::PEMTokenizer tokenizer(pem, {"CERTIFICATE"});
  while (tokenizer.GetNext())
    ders->push_back(tokenizer.data());
}

void BM_VerifyDeviceCertificateFromPem(benchmark::State& state) {
  const Fixture& f = GetFixture();
  for (auto _ : state) {
    std::vector<std::string> certs;
    AppendDer(f.device, &certs);
    AppendDer(f.intermediate, &certs);
    std::unique_ptr<kelm_certificate::CertVerificationContext> context;
    kelm_certificate::DeviceCertPolicy policy = kelm_certificate::NONE;
    const kelm_certificate::KelmCertError result =
        kelm_certificate::VerifyDeviceCertificate(
            certs, f.time, &context, &policy, nullptr,
            kelm_certificate::CRL_OPTIONAL);
    CHECK_EQ(kelm_certificate::OK, result);
    benchmark::DoNotOptimize(context.get());
  }
}
BENCHMARK(BM_VerifyDeviceCertificateFromPem);

void BM_OpenSslVerifyDeviceChainFromPem(benchmark::State& state) {
  const Fixture& f = GetFixture();
  for (auto _ : state) {
    const bool ok = openssl_peer::VerifyPemChain(
        f.device, f.intermediate, f.root, Fixture::kTimeT);
    CHECK(ok);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_OpenSslVerifyDeviceChainFromPem);

// How many times faster our validator is (target: 4).
const kelm_bench::RatioRegistration kDeviceChainRatio(
    "OpenSSL 3 X509_verify_cert / VerifyDeviceCertificate (device chain from "
    "PEM)",
    "BM_OpenSslVerifyDeviceChainFromPem", "BM_VerifyDeviceCertificateFromPem");

}  // namespace
