// Feeds arbitrary bytes to ParsedCertificate::Create, then runs what chain
// verification does with a certificate over whatever parsed: the critical
// extension check, the key purpose checks and a two-certificate chain of
// the certificate under itself as a constrained anchor.

#include <openssl/pool.h>

#include <cstddef>
#include <cstdint>
#include <set>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/certificate_policies.h"
#include "agent/net/cert/internal/parsed_certificate.h"
#include "agent/net/cert/internal/simple_path_builder_delegate.h"
#include "agent/net/cert/internal/verify_certificate_chain.h"
#include "logging/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (bool allow_invalid_serial : {false, true}) {
    net::ParseCertificateOptions options;
    options.allow_invalid_serial_numbers = allow_invalid_serial;
    net::CertErrors errors;
    scoped_refptr<net::ParsedCertificate> cert = net::ParsedCertificate::Create(
        bssl::UniquePtr<CRYPTO_BUFFER>(CRYPTO_BUFFER_new(data, size, nullptr)),
        options, &errors);
    // A failure always says why.
    CHECK(cert || errors.ContainsAnyErrorWithSeverity(net::SEVERITY_ERROR));
    (void)errors.ToDebugString();
    if (!cert)
      continue;

    net::CertErrors check_errors;
    net::VerifyNoUnconsumedCriticalExtensions(*cert, &check_errors);
    net::VerifyExtendedKeyUsage(*cert, net::KeyPurpose::SERVER_AUTH,
                                &check_errors);
    net::VerifyExtendedKeyUsage(*cert, net::KeyPurpose::CLIENT_AUTH,
                                &check_errors);

    net::SimplePathBuilderDelegate delegate(
        1024, net::SimplePathBuilderDelegate::DigestPolicy::kWeakAllowSha1);
    net::CertPathErrors path_errors;
    std::set<net::der::Input> constrained;
    net::der::GeneralizedTime time;
    time.year = 2025;
    time.month = 6;
    time.day = 1;
    net::VerifyCertificateChain(
        {cert, cert}, net::CertificateTrust::AnchorWithConstraints(),
        &delegate, time, net::KeyPurpose::CLIENT_AUTH,
        net::InitialExplicitPolicy::kFalse, {net::AnyPolicy()},
        net::InitialPolicyMappingInhibit::kFalse,
        net::InitialAnyPolicyInhibit::kFalse, &constrained, &path_errors);
  }
  return 0;
}
