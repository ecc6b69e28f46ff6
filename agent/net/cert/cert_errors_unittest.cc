#include "agent/net/cert/cert_errors.h"

#include <string>
#include <vector>

#include "agent/net/cert/cert_error_params.h"
#include "agent/net/cert/common_cert_errors.h"
#include "gtest/gtest.h"

namespace net {
namespace {

const char kTestError[] = "Test error";
// The same text as a shared id, but its own object.
const char kLookalikeNotAfter[] = "Time is after notAfter";

TEST(CertErrorsTest, EntryText) {
  const std::vector<uint8_t> oid = {0x2A, 0x03, 0xFF};
  const std::vector<uint8_t> params = {0x05, 0x00};
  struct Case {
    const char* name;
    CertErrorSeverity severity;
    std::unique_ptr<CertErrorParams> params;
    std::string expected;
  };
  Case cases[] = {
      {"warning without parameters", SEVERITY_WARNING, nullptr,
       "WARNING: Test error\n"},
      {"error without parameters", SEVERITY_ERROR, nullptr,
       "ERROR: Test error\n"},
      {"two sizes", SEVERITY_ERROR,
       CreateCertErrorParams2SizeT("actual", 1024, "minimum", 2048),
       "ERROR: Test error\n  actual: 1024\n  minimum: 2048\n"},
      {"one size", SEVERITY_WARNING,
       CreateCertErrorParams1SizeT("count", SIZE_MAX),
       "WARNING: Test error\n  count: 18446744073709551615\n"},
      {"two DER values", SEVERITY_ERROR,
       CreateCertErrorParams2Der("oid", der::Input(oid.data(), oid.size()),
                                 "params",
                                 der::Input(params.data(), params.size())),
       "ERROR: Test error\n  oid: 2A03FF\n  params: 0500\n"},
      {"empty DER value", SEVERITY_ERROR,
       CreateCertErrorParams1Der("value", der::Input()),
       "ERROR: Test error\n  value: \n"},
      {"empty second DER value", SEVERITY_ERROR,
       CreateCertErrorParams2Der("a", der::Input(oid.data(), 1), "b",
                                 der::Input()),
       "ERROR: Test error\n  a: 2A\n  b: \n"},
  };
  for (Case& c : cases) {
    CertErrors errors;
    errors.Add(c.severity, kTestError, std::move(c.params));
    EXPECT_EQ(c.expected, errors.ToDebugString()) << c.name;
    ASSERT_EQ(1u, errors.nodes().size());
    EXPECT_EQ(c.expected, errors.nodes()[0].ToDebugString()) << c.name;
  }
}

// Parameter text is split at every newline, keeping empty lines and
// whitespace, and each line is indented.
TEST(CertErrorsTest, ParameterLinesKeepEmptyPiecesAndWhitespace) {
  class RawParams : public CertErrorParams {
   public:
    explicit RawParams(std::string text) : text_(std::move(text)) {}
    std::string ToDebugString() const override { return text_; }

   private:
    std::string text_;
  };
  CertErrors errors;
  errors.AddWarning(kTestError, std::make_unique<RawParams>("a\n\n b \n"));
  EXPECT_EQ("WARNING: Test error\n  a\n  \n   b \n  \n",
            errors.ToDebugString());
}

TEST(CertErrorsTest, ListTextIsEntriesInOrder) {
  CertErrors errors;
  EXPECT_EQ("", errors.ToDebugString());
  errors.AddError(cert_errors::kChainIsEmpty);
  errors.AddWarning(kTestError, CreateCertErrorParams1SizeT("n", 7));
  errors.AddError(kTestError, nullptr);
  EXPECT_EQ(
      "ERROR: Chain is empty\n"
      "WARNING: Test error\n  n: 7\n"
      "ERROR: Test error\n",
      errors.ToDebugString());
}

TEST(CertErrorsTest, MovingAListMovesItsEntries) {
  CertErrors errors;
  errors.AddError(kTestError, CreateCertErrorParams1SizeT("n", 1));
  CertErrors moved(std::move(errors));
  EXPECT_EQ("ERROR: Test error\n  n: 1\n", moved.ToDebugString());
}

TEST(CertPathErrorsTest, GetErrorsForCertGrowsToTheIndex) {
  CertPathErrors path_errors;
  CertErrors* third = path_errors.GetErrorsForCert(3);
  third->AddWarning(kTestError);
  EXPECT_EQ(third, path_errors.GetErrorsForCert(3));
  for (size_t i = 0; i < 3; ++i)
    EXPECT_TRUE(path_errors.GetErrorsForCert(i)->empty()) << i;
  EXPECT_FALSE(path_errors.GetErrorsForCert(3)->empty());
}

// A list handed out for one certificate must survive the collection
// growing for a later one; with lists that move on growth this is a
// use-after-free that the sanitizer builds report.
TEST(CertPathErrorsTest, ListsStayPutWhenLaterIndexesAreAdded) {
  CertPathErrors path_errors;
  CertErrors* target = path_errors.GetErrorsForCert(0);
  target->AddError(kTestError);
  for (size_t i = 1; i < 200; ++i)
    path_errors.GetErrorsForCert(i)->AddWarning(kTestError);
  target->AddError(cert_errors::kChainIsEmpty);
  EXPECT_EQ(target, path_errors.GetErrorsForCert(0));
  EXPECT_EQ("ERROR: Test error\nERROR: Chain is empty\n",
            target->ToDebugString());
}

TEST(CertPathErrorsTest, ContainsErrorComparesIdsByAddress) {
  CertPathErrors path_errors;
  EXPECT_FALSE(path_errors.ContainsError(cert_errors::kValidityFailedNotAfter));
  path_errors.GetErrorsForCert(2)->AddError(
      cert_errors::kValidityFailedNotAfter);
  EXPECT_TRUE(path_errors.ContainsError(cert_errors::kValidityFailedNotAfter));
  EXPECT_FALSE(path_errors.ContainsError(kLookalikeNotAfter));
  EXPECT_STREQ(CertErrorIdToDebugString(kLookalikeNotAfter),
               CertErrorIdToDebugString(cert_errors::kValidityFailedNotAfter));

  CertPathErrors other_only;
  other_only.GetOtherErrors()->AddWarning(kLookalikeNotAfter);
  EXPECT_TRUE(other_only.ContainsError(kLookalikeNotAfter));
  EXPECT_FALSE(other_only.ContainsError(cert_errors::kValidityFailedNotAfter));
}

TEST(CertPathErrorsTest, ContainsAnyErrorWithSeverity) {
  CertPathErrors path_errors;
  EXPECT_FALSE(path_errors.ContainsAnyErrorWithSeverity(SEVERITY_WARNING));
  path_errors.GetErrorsForCert(0)->AddWarning(kTestError);
  path_errors.GetOtherErrors()->AddWarning(kTestError);
  EXPECT_FALSE(path_errors.ContainsAnyErrorWithSeverity(SEVERITY_ERROR));
  EXPECT_TRUE(path_errors.ContainsAnyErrorWithSeverity(SEVERITY_WARNING));
  path_errors.GetOtherErrors()->AddError(kTestError);
  EXPECT_TRUE(path_errors.ContainsAnyErrorWithSeverity(SEVERITY_ERROR));

  CertPathErrors on_cert;
  on_cert.GetErrorsForCert(5)->AddError(kTestError);
  EXPECT_TRUE(on_cert.ContainsAnyErrorWithSeverity(SEVERITY_ERROR));
}

// Every shared id is its own object with its own text.
TEST(CommonCertErrorsTest, SharedIdsAreDistinct) {
  const CertErrorId kIds[] = {
      cert_errors::kValidityFailedNotAfter,
      cert_errors::kValidityFailedNotBefore,
      cert_errors::kDistrustedByTrustStore,
      cert_errors::kSignatureAlgorithmMismatch,
      cert_errors::kChainIsEmpty,
      cert_errors::kChainIsLength1,
      cert_errors::kUnconsumedCriticalExtension,
      cert_errors::kTargetCertShouldNotBeCa,
      cert_errors::kKeyCertSignBitNotSet,
      cert_errors::kMaxPathLengthViolated,
      cert_errors::kBasicConstraintsIndicatesNotCa,
      cert_errors::kMissingBasicConstraints,
      cert_errors::kNotPermittedByNameConstraints,
      cert_errors::kTooManyNameConstraintChecks,
      cert_errors::kSubjectDoesNotMatchIssuer,
      cert_errors::kVerifySignedDataFailed,
      cert_errors::kSignatureAlgorithmsDifferentEncoding,
      cert_errors::kEkuLacksServerAuth,
      cert_errors::kEkuLacksServerAuthButHasGatedCrypto,
      cert_errors::kEkuLacksClientAuth,
      cert_errors::kCertIsNotTrustAnchor,
      cert_errors::kNoValidPolicy,
      cert_errors::kPolicyMappingAnyPolicy,
      cert_errors::kFailedParsingSpki,
      cert_errors::kUnacceptableSignatureAlgorithm,
      cert_errors::kUnacceptablePublicKey,
      cert_errors::kFailedParsingGeneralName,
  };
  for (size_t i = 0; i < std::size(kIds); ++i) {
    for (size_t j = i + 1; j < std::size(kIds); ++j) {
      EXPECT_NE(kIds[i], kIds[j]) << CertErrorIdToDebugString(kIds[i]);
      EXPECT_STRNE(CertErrorIdToDebugString(kIds[i]),
                   CertErrorIdToDebugString(kIds[j]));
    }
  }
}

}  // namespace
}  // namespace net
