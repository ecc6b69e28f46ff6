// Our certificate parsing and chain verification against OpenSSL 3 over the
// same DER files: ParsedCertificate::Create against d2i_X509 on a 2048-bit
// RSA leaf, and VerifyCertificateChain on leaf, intermediate and root
// against X509_verify_cert. Both sides parse afresh on every iteration, and
// OpenSSL gets a fresh store each time. Our side takes the certificates
// as the CRYPTO_BUFFERs its callers already hold (new references to
// buffers made up front); OpenSSL takes the bytes.

#include <openssl/pool.h>

#include <set>
#include <string>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/certificate_policies.h"
#include "agent/net/cert/internal/parsed_certificate.h"
#include "agent/net/cert/internal/simple_path_builder_delegate.h"
#include "agent/net/cert/internal/verify_certificate_chain.h"
#include "benchmark/benchmark.h"
#include "benchmarks/openssl_peer/openssl_peer.h"
#include "benchmarks/ratio.h"
#include "logging/check.h"

namespace {

std::string ReadCert(const char* name) {
  std::string contents;
  CHECK(kelmbase::ReadFileToString(
      kelmbase::FilePath(KELM_CERT_TESTDATA_DIR).Append(name), &contents));
  return contents;
}

struct Fixture {
  Fixture()
      : leaf(ReadCert("leaf.der")),
        intermediate(ReadCert("intermediate.der")),
        root(ReadCert("root.der")),
        leaf_buffer(Buffer(leaf)),
        intermediate_buffer(Buffer(intermediate)),
        root_buffer(Buffer(root)) {
    openssl_peer::Load(KELM_OPENSSL_CRYPTO_LIBRARY);
  }
  static bssl::UniquePtr<CRYPTO_BUFFER> Buffer(const std::string& der) {
    return bssl::UniquePtr<CRYPTO_BUFFER>(CRYPTO_BUFFER_new(
        reinterpret_cast<const uint8_t*>(der.data()), der.size(), nullptr));
  }
  std::string leaf;
  std::string intermediate;
  std::string root;
  bssl::UniquePtr<CRYPTO_BUFFER> leaf_buffer;
  bssl::UniquePtr<CRYPTO_BUFFER> intermediate_buffer;
  bssl::UniquePtr<CRYPTO_BUFFER> root_buffer;
};

const Fixture& GetFixture() {
  static const Fixture* fixture = new Fixture();
  return *fixture;
}

scoped_refptr<net::ParsedCertificate> Parse(
    const bssl::UniquePtr<CRYPTO_BUFFER>& buffer) {
  return net::ParsedCertificate::Create(
      bssl::UpRef(buffer), net::ParseCertificateOptions(), nullptr);
}

// 2025-06-01 12:00:00 UTC, inside every fixture's validity.
constexpr time_t kVerifyTime = 1748779200;

net::der::GeneralizedTime VerifyTime() {
  net::der::GeneralizedTime time;
  time.year = 2025;
  time.month = 6;
  time.day = 1;
  time.hours = 12;
  return time;
}

void BM_ParsedCertificateCreate(benchmark::State& state) {
  const Fixture& f = GetFixture();
  for (auto _ : state) {
    scoped_refptr<net::ParsedCertificate> cert = Parse(f.leaf_buffer);
    CHECK(cert);
    benchmark::DoNotOptimize(cert.get());
  }
}
BENCHMARK(BM_ParsedCertificateCreate);

void BM_OpenSslD2iX509(benchmark::State& state) {
  const Fixture& f = GetFixture();
  for (auto _ : state) {
    const bool ok = openssl_peer::ParseAndFree(f.leaf);
    CHECK(ok);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_OpenSslD2iX509);

void BM_VerifyCertificateChain(benchmark::State& state) {
  const Fixture& f = GetFixture();
  const std::set<net::der::Input> any_policy = {net::AnyPolicy()};
  for (auto _ : state) {
    net::ParsedCertificateList chain = {Parse(f.leaf_buffer),
                                        Parse(f.intermediate_buffer),
                                        Parse(f.root_buffer)};
    CHECK(chain[0] && chain[1] && chain[2]);
    net::SimplePathBuilderDelegate delegate(
        2048, net::SimplePathBuilderDelegate::DigestPolicy::kStrong);
    net::CertPathErrors errors;
    net::VerifyCertificateChain(
        chain, net::CertificateTrust::AnchorWithConstraints(), &delegate,
        VerifyTime(), net::KeyPurpose::CLIENT_AUTH,
        net::InitialExplicitPolicy::kFalse, any_policy,
        net::InitialPolicyMappingInhibit::kFalse,
        net::InitialAnyPolicyInhibit::kFalse, nullptr, &errors);
    const bool ok = !errors.ContainsAnyErrorWithSeverity(net::SEVERITY_ERROR);
    CHECK(ok);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_VerifyCertificateChain);

void BM_OpenSslX509VerifyCert(benchmark::State& state) {
  const Fixture& f = GetFixture();
  for (auto _ : state) {
    const bool ok =
        openssl_peer::VerifyChain(f.leaf, f.intermediate, f.root, kVerifyTime);
    CHECK(ok);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_OpenSslX509VerifyCert);

// How many times faster our side is (targets: 20 for parsing, 4 for
// verification).
const kelm_bench::RatioRegistration kParseRatio(
    "OpenSSL 3 d2i_X509 / ParsedCertificate::Create", "BM_OpenSslD2iX509",
    "BM_ParsedCertificateCreate");
const kelm_bench::RatioRegistration kVerifyRatio(
    "OpenSSL 3 X509_verify_cert / VerifyCertificateChain",
    "BM_OpenSslX509VerifyCert", "BM_VerifyCertificateChain");

}  // namespace
