#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

#include <openssl/bio.h>
#include <openssl/digest.h>
#include <openssl/err.h>
#include <openssl/nid.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "agent/base/test/scoped_environment_restorer.h"
#include "gtest/gtest.h"

namespace kelm_auth {
namespace {

using kelmbase::test::ScopedEnvironmentVariable;

constexpr char kSsid[] = "DA:4E:71:7C:3D:0A";

// Counts the platform library's calls through its call log.
class CallCounter {
 public:
  CallCounter() {
    path_ = testing::TempDir() + "kelm_auth_calls_XXXXXX";
    const int fd = mkstemp(path_.data());
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    env_.emplace("KELM_AUTH_DEV_CALL_LOG", path_);
  }
  ~CallCounter() {
    env_.reset();
    unlink(path_.c_str());
  }

  // Calls of `function` since the previous Take.
  int Take(const std::string& function) {
    std::ifstream in(path_);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
      if (line == function) ++count;
    }
    const int delta = count - seen_[function];
    seen_[function] = count;
    return delta;
  }

 private:
  std::string path_;
  std::optional<ScopedEnvironmentVariable> env_;
  std::map<std::string, int> seen_;
};

std::vector<std::string> PemToDers(const std::string& pem) {
  std::vector<std::string> ders;
  bssl::UniquePtr<BIO> bio(BIO_new_mem_buf(pem.data(), pem.size()));
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    uint8_t* der = nullptr;
    const int len = i2d_X509(cert, &der);
    ders.emplace_back(reinterpret_cast<const char*>(der), len);
    OPENSSL_free(der);
    X509_free(cert);
  }
  ERR_clear_error();
  return ders;
}

std::string DigestInfoSha1(const std::string& message) {
  uint8_t digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const uint8_t*>(message.data()), message.size(),
       digest);
  uint8_t* block = nullptr;
  size_t block_len = 0;
  int is_alloced = 0;
  EXPECT_TRUE(RSA_add_pkcs1_prefix(&block, &block_len, &is_alloced, NID_sha1,
                                   digest, sizeof(digest)));
  std::string out(reinterpret_cast<const char*>(block), block_len);
  if (is_alloced) OPENSSL_free(block);
  return out;
}

bool VerifySha1(const std::string& cert_der, const std::string& message,
                const std::string& signature) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(cert_der.data());
  bssl::UniquePtr<X509> cert(d2i_X509(nullptr, &p, cert_der.size()));
  if (!cert) return false;
  bssl::UniquePtr<EVP_PKEY> key(X509_get_pubkey(cert.get()));
  if (!key) return false;
  uint8_t digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const uint8_t*>(message.data()), message.size(),
       digest);
  return RSA_verify(NID_sha1, digest, sizeof(digest),
                    reinterpret_cast<const uint8_t*>(signature.data()),
                    signature.size(), EVP_PKEY_get0_RSA(key.get())) == 1;
}

// Each test runs with a clean set of test controls and fresh device keys.
class KelmAuthTest : public testing::Test {
 protected:
  struct Device {
    std::string key;
    std::string cert;
  };

  static std::string Template() {
    std::string chain;
    EXPECT_TRUE(GetModelCertChain(&chain));
    const std::vector<std::string> ders = PemToDers(chain);
    EXPECT_EQ(ders.size(), 2u);
    return ders.empty() ? std::string() : ders[0];
  }

  static Device NewDevice() {
    Device device;
    device.cert = Template();
    EXPECT_TRUE(GenerateDeviceKeyAndCert(kSsid, &device.key, &device.cert));
    return device;
  }

  static std::string Name() {
    return testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  // The DigestInfo of a message no other test signs, so the process-wide
  // cache can't answer it from an earlier test.
  static std::string Input(const std::string& tag) {
    return DigestInfoSha1(Name() + tag);
  }
};

TEST_F(KelmAuthTest, GetModelCertChainReturnsThePemChain) {
  std::string chain = "old";
  ASSERT_TRUE(GetModelCertChain(&chain));
  EXPECT_EQ(chain.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
  EXPECT_EQ(PemToDers(chain).size(), 2u);
}

TEST_F(KelmAuthTest, GetModelCertChainFailureKeepsTheString) {
  ScopedEnvironmentVariable env("KELM_AUTH_DEV_MODEL_CHAIN", "fail");
  std::string chain = "old";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(GetModelCertChain(&chain));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(chain, "old");
  EXPECT_NE(err.find("kelm_auth_c_api.cc:"), std::string::npos) << err;
  EXPECT_NE(err.find("] KelmAuth_GetModelCertChain() returned error.\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(err[0], 'E');
}

TEST_F(KelmAuthTest, GetModelCertChainEmptyFailsWithoutRecord) {
  ScopedEnvironmentVariable env("KELM_AUTH_DEV_MODEL_CHAIN", "empty");
  std::string chain = "old";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(GetModelCertChain(&chain));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(chain, "");
}

TEST_F(KelmAuthTest, GenerateReplacesTheTemplateWithTheDeviceCertificate) {
  const std::string template_der = Template();
  std::string key;
  std::string cert = template_der;
  ASSERT_TRUE(GenerateDeviceKeyAndCert(kSsid, &key, &cert));
  EXPECT_FALSE(key.empty());
  EXPECT_NE(cert, template_der);
  const size_t offset = template_der.find("AA:BB:CC:DD:EE:FF");
  ASSERT_NE(offset, std::string::npos);
  EXPECT_EQ(cert.substr(offset, 17), kSsid);
}

TEST_F(KelmAuthTest, GenerateFailures) {
  struct Case {
    const char* control;
    bool record;        // "returned error." logged.
    bool keeps_inputs;  // Both strings keep their content.
    bool key_filled;    // The key string holds a new key.
  };
  const Case cases[] = {
      {"fail", true, true, false},
      {"empty", false, false, false},
      {"key_only", false, false, true},
  };
  const std::string template_der = Template();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_GENERATE", c.control);
    std::string key = "old key";
    std::string cert = template_der;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(GenerateDeviceKeyAndCert(kSsid, &key, &cert));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        err.find("] KelmAuth_GenerateDeviceKeyAndCert() returned error.\n") !=
            std::string::npos,
        c.record)
        << err;
    if (c.keeps_inputs) {
      EXPECT_EQ(key, "old key");
      EXPECT_EQ(cert, template_der);
    } else {
      EXPECT_TRUE(cert.empty());
      EXPECT_EQ(!key.empty() && key != "old key", c.key_filled);
    }
  }
}

// The library's result is a byte of which only bit 0 tells success; the
// other bits, set or not, change nothing.
TEST_F(KelmAuthTest, OnlyBitZeroOfTheResultCounts) {
  const Device device = NewDevice();
  const std::string template_der = Template();
  struct Case {
    const char* result;
    bool ok;
  } const cases[] = {
      {"0x01", true}, {"0x03", true}, {"0xff", true},
      {"0x00", false}, {"0x02", false}, {"0xfe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_RESULT", c.result);

    std::string chain = "old";
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetModelCertChain(&chain), c.ok);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("] KelmAuth_GetModelCertChain() returned error.\n") !=
                  std::string::npos,
              !c.ok)
        << err;
    if (c.ok) {
      EXPECT_EQ(PemToDers(chain).size(), 2u);
    } else {
      EXPECT_EQ(chain, "old");
    }

    std::string key = "old key";
    std::string cert = template_der;
    testing::internal::CaptureStderr();
    EXPECT_EQ(GenerateDeviceKeyAndCert(kSsid, &key, &cert), c.ok);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        err.find("] KelmAuth_GenerateDeviceKeyAndCert() returned error.\n") !=
            std::string::npos,
        !c.ok)
        << err;
    EXPECT_EQ(key != "old key", c.ok);
    EXPECT_EQ(cert != template_der, c.ok);

    std::string signature;
    testing::internal::CaptureStderr();
    EXPECT_EQ(SignHash(device.key, Input(c.result), &signature), c.ok);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("] KelmAuth_SignHash() returned error.\n") !=
                  std::string::npos,
              !c.ok)
        << err;
    EXPECT_EQ(VerifySha1(device.cert, Name() + c.result, signature), c.ok);
  }
}

TEST_F(KelmAuthTest, SignHashSignsWithTheDeviceKey) {
  const Device device = NewDevice();
  const std::string input = Input("");
  std::string signature;
  ASSERT_TRUE(SignHash(device.key, input, &signature));
  EXPECT_TRUE(VerifySha1(device.cert, Name(), signature));
}

TEST_F(KelmAuthTest, SecondSignatureComesFromTheCache) {
  const Device device = NewDevice();
  CallCounter calls;
  const std::string input = Input("");
  std::string first, second;
  ASSERT_TRUE(SignHash(device.key, input, &first));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 1);
  ASSERT_TRUE(SignHash(device.key, input, &second));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 0);
  EXPECT_EQ(second, first);
  // Even a library that would now fail is not asked.
  ScopedEnvironmentVariable env("KELM_AUTH_DEV_SIGN", "fail");
  std::string third;
  EXPECT_TRUE(SignHash(device.key, input, &third));
  EXPECT_EQ(third, first);
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 0);
}

TEST_F(KelmAuthTest, AnotherKeyClearsTheCache) {
  const Device a = NewDevice();
  const Device b = NewDevice();
  CallCounter calls;
  const std::string input = Input("");
  std::string sig_a, sig_b, again;
  ASSERT_TRUE(SignHash(a.key, input, &sig_a));
  ASSERT_TRUE(SignHash(b.key, input, &sig_b));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 2);
  EXPECT_NE(sig_a, sig_b);
  EXPECT_TRUE(VerifySha1(b.cert, Name(), sig_b));
  // B's signature is cached; A's went when B's was stored.
  ASSERT_TRUE(SignHash(b.key, input, &again));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 0);
  ASSERT_TRUE(SignHash(a.key, input, &again));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 1);
  EXPECT_EQ(again, sig_a);
}

TEST_F(KelmAuthTest, CacheEvictsTheLeastRecentlyUsedInput) {
  const Device device = NewDevice();
  CallCounter calls;
  std::string signature;
  for (int i = 1; i <= 10; ++i) {
    ASSERT_TRUE(SignHash(device.key, Input(std::to_string(i)), &signature));
  }
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 10);
  // Looking up the second input makes the third the least recently used.
  ASSERT_TRUE(SignHash(device.key, Input("2"), &signature));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 0);
  // The eleventh evicts the first, the twelfth the third.
  ASSERT_TRUE(SignHash(device.key, Input("11"), &signature));
  ASSERT_TRUE(SignHash(device.key, Input("12"), &signature));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 2);
  ASSERT_TRUE(SignHash(device.key, Input("2"), &signature));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 0);
  ASSERT_TRUE(SignHash(device.key, Input("3"), &signature));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 1);
  ASSERT_TRUE(SignHash(device.key, Input("1"), &signature));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 1);
  EXPECT_TRUE(VerifySha1(device.cert, Name() + std::string("1"), signature));
}

TEST_F(KelmAuthTest, SignHashFailureIsLoggedAndNotCached) {
  const Device device = NewDevice();
  CallCounter calls;
  const std::string input = Input("");
  std::string signature = "old";
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_SIGN", "fail");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SignHash(device.key, input, &signature));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("] KelmAuth_SignHash() returned error.\n"),
              std::string::npos)
        << err;
  }
  EXPECT_TRUE(signature.empty());
  ASSERT_TRUE(SignHash(device.key, input, &signature));
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 2);
}

TEST_F(KelmAuthTest, EmptySignatureFailsWithoutRecordAndIsNotCached) {
  const Device device = NewDevice();
  CallCounter calls;
  const std::string input = Input("");
  std::string signature;
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_SIGN", "empty");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SignHash(device.key, input, &signature));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(signature.empty());
    // Nothing was cached: the library is asked again.
    EXPECT_FALSE(SignHash(device.key, input, &signature));
  }
  EXPECT_EQ(calls.Take("KelmAuth_SignHash"), 2);
  ASSERT_TRUE(SignHash(device.key, input, &signature));
  EXPECT_TRUE(VerifySha1(device.cert, Name(), signature));
}

TEST_F(KelmAuthTest, TamperedKeyFailsTheSignature) {
  Device device = NewDevice();
  device.key[device.key.size() / 2] ^= 0x01;
  std::string signature;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SignHash(device.key, Input(""), &signature));
  EXPECT_FALSE(SignHash(device.key.substr(0, 10), Input(""), &signature));
  EXPECT_FALSE(SignHash("", Input(""), &signature));
  testing::internal::GetCapturedStderr();
}

TEST_F(KelmAuthTest, NullOutputsAreFatal) {
  std::string s;
  EXPECT_DEATH(GetModelCertChain(nullptr),
               "Check failed: cert_chain != nullptr");
  EXPECT_DEATH(GenerateDeviceKeyAndCert(kSsid, nullptr, &s),
               "Check failed: wrapped_device_key != nullptr");
  EXPECT_DEATH(GenerateDeviceKeyAndCert(kSsid, &s, nullptr),
               "Check failed: device_cert != nullptr");
  EXPECT_DEATH(GenerateDeviceKeyAndCert(kSsid, nullptr, nullptr),
               "Check failed: wrapped_device_key != nullptr");
  EXPECT_DEATH(SignHash("key", "input", nullptr),
               "Check failed: signature != nullptr");
}

// The record rules, without the library.

int g_frees = 0;
void CountingFree(void* data) {
  ++g_frees;
  free(data);
}

TEST(KelmAuthRecordTest, DataVecValidity) {
  uint8_t byte = 0;
  struct Case {
    uint8_t* data;
    uint64_t len;
    bool valid;
  };
  const Case cases[] = {
      {nullptr, 0, true},
      {&byte, 1, true},
      {&byte, 0, false},
      {nullptr, 1, false},
  };
  for (const Case& c : cases) {
    KelmAuthDataVec vec{c.data, c.len, {nullptr, nullptr}};
    EXPECT_EQ(IsDataVecValid(&vec), c.valid) << c.len;
  }
  const KelmAuthMmOps both{&AllocateBuffer, &FreeBuffer};
  const KelmAuthMmOps no_alloc{nullptr, &FreeBuffer};
  const KelmAuthMmOps no_free{&AllocateBuffer, nullptr};
  EXPECT_TRUE(IsMmOpsValid(&both));
  EXPECT_FALSE(IsMmOpsValid(&no_alloc));
  EXPECT_FALSE(IsMmOpsValid(&no_free));
}

TEST(KelmAuthRecordTest, TakeDataVecCopiesAndReleases) {
  KelmAuthDataVec empty{nullptr, 0, {nullptr, nullptr}};
  EXPECT_EQ(TakeDataVec(&empty), "");

  const std::string bytes("a\0b", 3);
  void* buffer = AllocateBuffer(bytes.size());
  memcpy(buffer, bytes.data(), bytes.size());
  KelmAuthDataVec vec{static_cast<uint8_t*>(buffer), bytes.size(),
                      {&AllocateBuffer, &CountingFree}};
  g_frees = 0;
  EXPECT_EQ(TakeDataVec(&vec), bytes);
  EXPECT_EQ(g_frees, 1);
  EXPECT_EQ(vec.data, nullptr);
  EXPECT_EQ(vec.len, 0u);
}

TEST(KelmAuthRecordTest, TakeDataVecOfABrokenRecordIsFatal) {
  uint8_t byte = 0;
  KelmAuthDataVec data_without_len{&byte, 0, {&AllocateBuffer, &FreeBuffer}};
  EXPECT_DEATH(TakeDataVec(&data_without_len),
               "Check failed: IsDataVecValid\\(&vec\\)");
  KelmAuthDataVec len_without_data{nullptr, 4, {&AllocateBuffer, &FreeBuffer}};
  EXPECT_DEATH(TakeDataVec(&len_without_data),
               "Check failed: IsDataVecValid\\(&vec\\)");
  KelmAuthDataVec no_callbacks{&byte, 1, {&AllocateBuffer, nullptr}};
  EXPECT_DEATH(TakeDataVec(&no_callbacks),
               "Check failed: IsMmOpsValid\\(&vec->mm\\)");
}

TEST(KelmAuthRecordTest, AllocationCallbacks) {
  void* data = AllocateBuffer(16);
  ASSERT_NE(data, nullptr);
  FreeBuffer(data);
  EXPECT_DEATH(AllocateBuffer(0), "Check failed: size");
  EXPECT_DEATH(FreeBuffer(nullptr), "Check failed: data");
}

TEST(KelmAuthRecordTest, FailedAllocationIsFatal) {
// GCC names the sanitizers with macros, clang through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KELM_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KELM_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(KELM_SANITIZER_ALLOCATOR)
  GTEST_SKIP() << "sanitizer allocators abort on impossible sizes themselves";
#else
  EXPECT_DEATH(AllocateBuffer(SIZE_MAX),
               "Allocation of 18446744073709551615 bytes failed\\.(.|\n)*"
               "Check failed: data != nullptr");
#endif
}

}  // namespace
}  // namespace kelm_auth
