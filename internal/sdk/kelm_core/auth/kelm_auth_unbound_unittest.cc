// A program that links the adapter without the platform library: the weak
// imports stay null, and each wrapper reports a failing library call.

#include <string>

#include "gtest/gtest.h"
#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

namespace kelm_auth {
namespace {

TEST(KelmAuthUnboundTest, MissingLibraryFunctionsFailTheCalls) {
  ASSERT_EQ(&KelmAuth_GetModelCertChain, nullptr);
  ASSERT_EQ(&KelmAuth_GenerateDeviceKeyAndCert, nullptr);
  ASSERT_EQ(&KelmAuth_SignHash, nullptr);

  testing::internal::CaptureStderr();
  std::string chain = "old chain";
  EXPECT_FALSE(GetModelCertChain(&chain));
  EXPECT_EQ(chain, "old chain");
  std::string key = "old key";
  std::string cert = "template";
  EXPECT_FALSE(GenerateDeviceKeyAndCert("DA:4E:71:50:00:00", &key, &cert));
  EXPECT_EQ(key, "old key");
  EXPECT_EQ(cert, "template");
  std::string signature;
  EXPECT_FALSE(SignHash("unbound test key", "input", &signature));
  EXPECT_TRUE(signature.empty());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("KelmAuth_GetModelCertChain() returned error."),
            std::string::npos);
  EXPECT_NE(err.find("KelmAuth_GenerateDeviceKeyAndCert() returned error."),
            std::string::npos);
  EXPECT_NE(err.find("KelmAuth_SignHash() returned error."),
            std::string::npos);
}

}  // namespace
}  // namespace kelm_auth
