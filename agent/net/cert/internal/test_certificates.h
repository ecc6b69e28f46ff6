#ifndef AGENT_NET_CERT_INTERNAL_TEST_CERTIFICATES_H_
#define AGENT_NET_CERT_INTERNAL_TEST_CERTIFICATES_H_

// Tests' access to the certificates that testdata/make_test_certs.sh writes.
// Test code only.

#include <string>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/net/cert/internal/parsed_certificate.h"
#include "agent/net/der/generalized_time.h"

namespace net::test {

// The bytes of testdata/<file_name>; a fatal check when it cannot be read.
std::string ReadTestFile(const std::string& file_name);

// The DER bytes of testdata/<name>.der.
std::string ReadTestCertDer(const std::string& name);

// testdata/<name>.der parsed with default options; a fatal check when it
// does not parse.
scoped_refptr<ParsedCertificate> ParseTestCert(const std::string& name);

// `der` parsed with default options; null when it does not parse.
scoped_refptr<ParsedCertificate> ParseCertDer(const std::string& der,
                                              CertErrors* errors = nullptr);

// The time every fixture-based test verifies at: 2025-06-01 12:00:00 UTC,
// inside the validity of every fixture that is not meant to be expired or
// not yet valid.
der::GeneralizedTime TestVerificationTime();

// The Certificate `der` with its outer signatureAlgorithm replaced by
// `algorithm_tlv` (the TBSCertificate and the signature kept).
std::string ReplaceOuterSignatureAlgorithm(const std::string& der,
                                           const std::string& algorithm_tlv);

}  // namespace net::test

#endif  // AGENT_NET_CERT_INTERNAL_TEST_CERTIFICATES_H_
