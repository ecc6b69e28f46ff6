// Parses arbitrary bytes as AlgorithmIdentifiers, as certificates carry
// them, and checks the promises of the parsed result.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/signature_algorithm.h"
#include "agent/net/der/input.h"
#include "logging/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using net::SignatureAlgorithm;
  const net::der::Input input(data, size);

  net::CertErrors errors;
  std::unique_ptr<SignatureAlgorithm> algorithm =
      SignatureAlgorithm::Create(input, &errors);
  if (algorithm) {
    CHECK(errors.empty());
    const bool pss =
        algorithm->algorithm() == net::SignatureAlgorithmId::RSA_PSS;
    CHECK_EQ(pss, algorithm->ParamsForRsaPss() != nullptr);
    CHECK(SignatureAlgorithm::EncodingsAreEquivalent(input, input));
  } else {
    CHECK(errors.nodes().size() <= 1);
    errors.ToDebugString();
  }

  // The same bytes as bare RSASSA-PSS parameters and as a digest.
  std::unique_ptr<SignatureAlgorithm> pss =
      net::ParseRsaPssParameters(input);
  if (pss)
    CHECK(pss->ParamsForRsaPss());
  net::DigestAlgorithm digest;
  (void)net::ParseDigestAlgorithm(input, &digest);

  // Two identifiers split where the first byte says: equivalence is
  // symmetric.
  if (size > 1) {
    const size_t split = 1 + data[0] % (size - 1);
    const net::der::Input a(data + 1, split - 1);
    const net::der::Input b(data + split, size - split);
    CHECK_EQ(SignatureAlgorithm::EncodingsAreEquivalent(a, b),
             SignatureAlgorithm::EncodingsAreEquivalent(b, a));
  }
  return 0;
}
