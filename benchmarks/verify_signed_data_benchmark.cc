// net::VerifySignedData against BoringSSL's EVP_DigestVerify called
// directly, for an RSA-2048 PKCS#1 v1.5 SHA-256 signature over the same
// message with the same key: the cost of our layer over the library.

#include <openssl/digest.h>
#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/crypto/test/test_keys.h"
#include "agent/net/cert/internal/signature_algorithm.h"
#include "agent/net/cert/internal/verify_signed_data.h"
#include "agent/net/der/input.h"
#include "agent/net/der/parse_values.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"
#include "logging/check.h"

namespace {

// About the size of a certificate's signed part.
constexpr size_t kMessageSize = 1024;

struct Fixture {
  Fixture()
      : key(crypto::test::GenerateRsaKey(2048)),
        message(kMessageSize, 'm'),
        signature(crypto::test::Sign(key.get(), EVP_sha256(), message)) {}

  bssl::UniquePtr<EVP_PKEY> key;
  std::string message;
  std::vector<uint8_t> signature;
};

const Fixture& GetFixture() {
  static const Fixture* fixture = new Fixture();
  return *fixture;
}

void BM_VerifySignedData(benchmark::State& state) {
  const Fixture& f = GetFixture();
  std::unique_ptr<net::SignatureAlgorithm> algorithm =
      net::SignatureAlgorithm::CreateRsaPkcs1(net::DigestAlgorithm::SHA256);
  const net::der::Input message(f.message);
  const net::der::BitString signature(
      net::der::Input(f.signature.data(), f.signature.size()), 0);
  for (auto _ : state) {
    const bool ok =
        net::VerifySignedData(*algorithm, message, signature, f.key.get());
    CHECK(ok);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_VerifySignedData);

void BM_EVPDigestVerify(benchmark::State& state) {
  const Fixture& f = GetFixture();
  const auto* message = reinterpret_cast<const uint8_t*>(f.message.data());
  for (auto _ : state) {
    bssl::ScopedEVP_MD_CTX ctx;
    CHECK(EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr,
                               f.key.get()));
    const bool ok = EVP_DigestVerify(ctx.get(), f.signature.data(),
                                     f.signature.size(), message,
                                     f.message.size()) == 1;
    CHECK(ok);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_EVPDigestVerify);

const kelm_bench::RatioRegistration kRatio("VerifySignedData/EVP_DigestVerify",
                                           "BM_VerifySignedData",
                                           "BM_EVPDigestVerify");

}  // namespace
