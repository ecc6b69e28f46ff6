// Tests of the development platform library through its three exported
// functions, as the tool calls them.

#include <openssl/bio.h>
#include <openssl/bytestring.h>
#include <openssl/digest.h>
#include <openssl/nid.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/test/scoped_environment_restorer.h"
#include "gtest/gtest.h"
#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

namespace {

using kelmbase::test::ScopedEnvironmentVariable;

constexpr char kPlaceholder[] = "AA:BB:CC:DD:EE:FF";
constexpr char kSsid[] = "DA:4E:71:5A:0B:FF";

std::atomic<int> g_allocations{0};
std::atomic<int> g_releases{0};

void* CountingAlloc(size_t size) {
  ++g_allocations;
  return malloc(size);
}
void CountingFree(void* data) {
  ++g_releases;
  free(data);
}

// An output record as the tool hands it in; releases what the library put in
// it.
struct Output {
  Output() : vec{nullptr, 0, {&CountingAlloc, &CountingFree}} {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (vec.data != nullptr) vec.mm.free(vec.data);
  }
  std::string bytes() const {
    return std::string(reinterpret_cast<const char*>(vec.data), vec.len);
  }
  bool empty() const { return vec.data == nullptr && vec.len == 0; }
  KelmAuthDataVec vec;
};

KelmAuthInputVec Input(const std::string& s) {
  return KelmAuthInputVec{reinterpret_cast<const uint8_t*>(s.data()),
                          s.size()};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<bssl::UniquePtr<X509>> ParsePemChain(const std::string& pem) {
  std::vector<bssl::UniquePtr<X509>> certs;
  bssl::UniquePtr<BIO> bio(BIO_new_mem_buf(pem.data(), pem.size()));
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    certs.emplace_back(cert);
  }
  ERR_clear_error();
  return certs;
}

bssl::UniquePtr<X509> ParseDer(const std::string& der) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(der.data());
  bssl::UniquePtr<X509> cert(d2i_X509(nullptr, &p, der.size()));
  if (cert && p != reinterpret_cast<const uint8_t*>(der.data()) + der.size()) {
    return nullptr;
  }
  return cert;
}

std::string ToDer(X509* cert) {
  uint8_t* der = nullptr;
  const int len = i2d_X509(cert, &der);
  std::string out(reinterpret_cast<const char*>(der), len > 0 ? len : 0);
  OPENSSL_free(der);
  return out;
}

std::string CommonName(X509* cert) {
  char buf[256] = {};
  X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, buf,
                            sizeof(buf));
  return buf;
}

bool SameTime(const ASN1_TIME* a, const ASN1_TIME* b) {
  int days = -1, seconds = -1;
  return ASN1_TIME_diff(&days, &seconds, a, b) && days == 0 && seconds == 0;
}

// The DigestInfo block of SHA-256(`message`): what the tool hands to SignHash.
std::string DigestInfoSha256(const std::string& message) {
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const uint8_t*>(message.data()), message.size(),
         digest);
  uint8_t* block = nullptr;
  size_t block_len = 0;
  int is_alloced = 0;
  EXPECT_TRUE(RSA_add_pkcs1_prefix(&block, &block_len, &is_alloced,
                                   NID_sha256, digest, sizeof(digest)));
  std::string out(reinterpret_cast<const char*>(block), block_len);
  if (is_alloced) OPENSSL_free(block);
  return out;
}

bool VerifySha256(X509* cert, const std::string& message,
                  const std::string& signature) {
  bssl::UniquePtr<EVP_PKEY> key(X509_get_pubkey(cert));
  if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_RSA) return false;
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const uint8_t*>(message.data()), message.size(),
         digest);
  return RSA_verify(NID_sha256, digest, sizeof(digest),
                    reinterpret_cast<const uint8_t*>(signature.data()),
                    signature.size(), EVP_PKEY_get0_RSA(key.get())) == 1;
}

std::string ModelChain() {
  Output chain;
  EXPECT_TRUE(KelmAuth_GetModelCertChain(&chain.vec));
  return chain.bytes();
}

std::string TemplateDer() {
  std::vector<bssl::UniquePtr<X509>> certs = ParsePemChain(ModelChain());
  EXPECT_FALSE(certs.empty());
  return certs.empty() ? std::string() : ToDer(certs[0].get());
}

struct Generated {
  bool ok = false;
  std::string key;
  std::string cert;
};

Generated Generate(const std::string& ssid, const std::string& template_der) {
  KelmAuthInputVec ssid_in = Input(ssid);
  KelmAuthInputVec template_in = Input(template_der);
  Output key, cert;
  Generated out;
  out.ok = KelmAuth_GenerateDeviceKeyAndCert(&ssid_in, &template_in, &key.vec,
                                             &cert.vec);
  out.key = key.bytes();
  out.cert = cert.bytes();
  return out;
}

struct Signed {
  bool ok = false;
  std::string signature;
};

Signed Sign(const std::string& wrapped_key, const std::string& input) {
  KelmAuthInputVec key_in = Input(wrapped_key);
  KelmAuthInputVec input_in = Input(input);
  Output signature;
  Signed out;
  out.ok = KelmAuth_SignHash(&key_in, &input_in, &signature.vec);
  out.signature = signature.bytes();
  return out;
}

class KelmCoreAuthDevTest : public testing::Test {
 protected:
  // One generated device key for the tests that only sign.
  static void SetUpTestSuite() {
    device_ = new Generated(Generate(kSsid, TemplateDer()));
  }
  static void TearDownTestSuite() {
    delete device_;
    device_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(device_->ok);
    ASSERT_FALSE(device_->key.empty());
    ASSERT_FALSE(device_->cert.empty());
  }

  static Generated* device_;
};

Generated* KelmCoreAuthDevTest::device_ = nullptr;

TEST_F(KelmCoreAuthDevTest, ModelChainIsTemplateThenIntermediate) {
  const std::string pem = ModelChain();
  std::vector<bssl::UniquePtr<X509>> certs = ParsePemChain(pem);
  ASSERT_EQ(certs.size(), 2u);
  EXPECT_EQ(CommonName(certs[0].get()), kPlaceholder);
  EXPECT_EQ(X509_check_issued(certs[1].get(), certs[0].get()), X509_V_OK);
  EXPECT_NE(pem.find("-----BEGIN CERTIFICATE-----"), std::string::npos);
  const std::string dir = KELM_DEV_PKI_DIR;
  EXPECT_EQ(pem, ReadFile(dir + "/model_template.pem") +
                     ReadFile(dir + "/model_intermediate_ca.pem"));
}

TEST_F(KelmCoreAuthDevTest, DeviceCertificateIsTheTemplateWithTheSsid) {
  const std::string template_der = TemplateDer();
  bssl::UniquePtr<X509> templ = ParseDer(template_der);
  bssl::UniquePtr<X509> cert = ParseDer(device_->cert);
  ASSERT_TRUE(templ);
  ASSERT_TRUE(cert);

  // The SSID stands exactly where the template holds the placeholder.
  const size_t offset = template_der.find(kPlaceholder);
  ASSERT_NE(offset, std::string::npos);
  EXPECT_EQ(device_->cert.substr(offset, strlen(kSsid)), kSsid);
  EXPECT_EQ(CommonName(cert.get()), kSsid);

  EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(cert.get()),
                          X509_get_issuer_name(templ.get())),
            0);
  EXPECT_TRUE(SameTime(X509_get0_notBefore(cert.get()),
                       X509_get0_notBefore(templ.get())));
  EXPECT_TRUE(SameTime(X509_get0_notAfter(cert.get()),
                       X509_get0_notAfter(templ.get())));
  // A fresh serial number of the template's length, and a new key.
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert.get());
  const ASN1_INTEGER* template_serial = X509_get0_serialNumber(templ.get());
  EXPECT_EQ(ASN1_STRING_length(serial), ASN1_STRING_length(template_serial));
  EXPECT_NE(ASN1_INTEGER_cmp(serial, template_serial), 0);
  EXPECT_NE(X509_cmp(cert.get(), templ.get()), 0);
  bssl::UniquePtr<EVP_PKEY> key(X509_get_pubkey(cert.get()));
  bssl::UniquePtr<EVP_PKEY> template_key(X509_get_pubkey(templ.get()));
  ASSERT_TRUE(key);
  EXPECT_EQ(EVP_PKEY_bits(key.get()), 2048);
  EXPECT_NE(EVP_PKEY_cmp(key.get(), template_key.get()), 1);

  // keyUsage digitalSignature alone, extendedKeyUsage clientAuth.
  EXPECT_EQ(X509_get_key_usage(cert.get()), uint32_t{KU_DIGITAL_SIGNATURE});
  EXPECT_EQ(X509_get_extended_key_usage(cert.get()), uint32_t{XKU_SSL_CLIENT});
}

TEST_F(KelmCoreAuthDevTest, DeviceCertificateChainsToTheFirstRoot) {
  std::vector<bssl::UniquePtr<X509>> model = ParsePemChain(ModelChain());
  ASSERT_EQ(model.size(), 2u);
  bssl::UniquePtr<X509> cert = ParseDer(device_->cert);
  ASSERT_TRUE(cert);
  const std::string root_pem =
      ReadFile(std::string(KELM_DEV_PKI_DIR) + "/root_ca_1.pem");
  std::vector<bssl::UniquePtr<X509>> roots = ParsePemChain(root_pem);
  ASSERT_EQ(roots.size(), 1u);

  bssl::UniquePtr<X509_STORE> store(X509_STORE_new());
  ASSERT_TRUE(X509_STORE_add_cert(store.get(), roots[0].get()));
  bssl::UniquePtr<STACK_OF(X509)> untrusted(sk_X509_new_null());
  ASSERT_TRUE(bssl::PushToStack(untrusted.get(), bssl::UpRef(model[1])));
  bssl::UniquePtr<X509_STORE_CTX> ctx(X509_STORE_CTX_new());
  ASSERT_TRUE(X509_STORE_CTX_init(ctx.get(), store.get(), cert.get(),
                                  untrusted.get()));
  X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_CLIENT);
  X509_STORE_CTX_set_time(ctx.get(), 0, 1767225600);  // 2026-01-01.
  EXPECT_EQ(X509_verify_cert(ctx.get()), 1)
      << X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
}

TEST_F(KelmCoreAuthDevTest, EachGenerationMakesANewKeyAndSerial) {
  const Generated second = Generate(kSsid, TemplateDer());
  ASSERT_TRUE(second.ok);
  EXPECT_NE(second.key, device_->key);
  bssl::UniquePtr<X509> a = ParseDer(device_->cert);
  bssl::UniquePtr<X509> b = ParseDer(second.cert);
  ASSERT_TRUE(a && b);
  bssl::UniquePtr<EVP_PKEY> key_a(X509_get_pubkey(a.get()));
  bssl::UniquePtr<EVP_PKEY> key_b(X509_get_pubkey(b.get()));
  EXPECT_NE(EVP_PKEY_cmp(key_a.get(), key_b.get()), 1);
  EXPECT_NE(ASN1_INTEGER_cmp(X509_get0_serialNumber(a.get()),
                             X509_get0_serialNumber(b.get())),
            0);
}

TEST_F(KelmCoreAuthDevTest, WrappedKeyDoesNotHoldThePrivateKeyInTheClear) {
  bssl::UniquePtr<X509> cert = ParseDer(device_->cert);
  ASSERT_TRUE(cert);
  bssl::UniquePtr<EVP_PKEY> key(X509_get_pubkey(cert.get()));
  const RSA* rsa = EVP_PKEY_get0_RSA(key.get());
  // An RSAPrivateKey in the clear would carry the modulus.
  std::string modulus(BN_num_bytes(RSA_get0_n(rsa)), '\0');
  BN_bn2bin(RSA_get0_n(rsa), reinterpret_cast<uint8_t*>(modulus.data()));
  EXPECT_EQ(device_->key.find(modulus.substr(0, 32)), std::string::npos);
}

TEST_F(KelmCoreAuthDevTest, SignsDigestInfoWithTheDeviceKey) {
  bssl::UniquePtr<X509> cert = ParseDer(device_->cert);
  ASSERT_TRUE(cert);
  const Signed sig = Sign(device_->key, DigestInfoSha256("TEST"));
  ASSERT_TRUE(sig.ok);
  EXPECT_EQ(sig.signature.size(), 256u);
  EXPECT_TRUE(VerifySha256(cert.get(), "TEST", sig.signature));
  EXPECT_FALSE(VerifySha256(cert.get(), "TESS", sig.signature));
  // PKCS#1 v1.5 is deterministic.
  EXPECT_EQ(Sign(device_->key, DigestInfoSha256("TEST")).signature,
            sig.signature);
}

TEST_F(KelmCoreAuthDevTest, SignsInputsUpToTheModulusLessPadding) {
  EXPECT_TRUE(Sign(device_->key, std::string(245, 'x')).ok);
  const Signed too_long = Sign(device_->key, std::string(246, 'x'));
  EXPECT_FALSE(too_long.ok);
  EXPECT_TRUE(too_long.signature.empty());
}

TEST_F(KelmCoreAuthDevTest, RejectsDamagedOrForeignKeyBlobs) {
  const std::string input = DigestInfoSha256("TEST");
  const std::string& blob = device_->key;
  const int allocations_before = g_allocations;

  // Any single flipped bit: magic, version, nonce, sealed key or tag.
  for (size_t i = 0; i < blob.size(); i += 7) {
    std::string tampered = blob;
    tampered[i] ^= 0x10;
    EXPECT_FALSE(Sign(tampered, input).ok) << "byte " << i;
  }
  EXPECT_FALSE(Sign(blob.substr(0, blob.size() - 1), input).ok);
  for (size_t len = 0; len < blob.size(); len += 97) {
    EXPECT_FALSE(Sign(blob.substr(0, len), input).ok) << "length " << len;
  }
  EXPECT_FALSE(Sign(blob + "x", input).ok);

  // A blob of the right form that the library never made.
  std::string foreign = blob;
  RAND_bytes(reinterpret_cast<uint8_t*>(foreign.data()) + 5,
             foreign.size() - 5);
  EXPECT_FALSE(Sign(foreign, input).ok);
  EXPECT_FALSE(Sign(std::string(blob.size(), '\0'), input).ok);
  // No output buffer is made for a call that fails.
  EXPECT_EQ(g_allocations, allocations_before);
}

TEST_F(KelmCoreAuthDevTest, RejectsUnusableGenerationInputs) {
  const std::string template_der = TemplateDer();
  const std::vector<std::string> bad_ssids = {
      "", "DA:4E:71:5A:0B:F", "DA:4E:71:5A:0B:FFF", "DA:4E:71:5A:0B:F\xff",
      std::string("DA:4E:71:5A:0B:F\0", 17), "DA:4E:71:5A:0B:F*"};
  for (const std::string& ssid : bad_ssids) {
    const Generated out = Generate(ssid, template_der);
    EXPECT_FALSE(out.ok) << ssid;
    EXPECT_TRUE(out.key.empty());
    EXPECT_TRUE(out.cert.empty());
  }
  std::vector<bssl::UniquePtr<X509>> model = ParsePemChain(ModelChain());
  ASSERT_EQ(model.size(), 2u);
  const std::vector<std::string> bad_templates = {
      "",
      "not DER",
      template_der.substr(0, template_der.size() - 1),
      template_der + "x",
      // Issued by the root, and no placeholder.
      ToDer(model[1].get()),
  };
  for (const std::string& templ : bad_templates) {
    const Generated out = Generate(kSsid, templ);
    EXPECT_FALSE(out.ok);
    EXPECT_TRUE(out.key.empty());
    EXPECT_TRUE(out.cert.empty());
  }
}

TEST_F(KelmCoreAuthDevTest, RejectsUnusableRecords) {
  const std::string input = DigestInfoSha256("TEST");
  KelmAuthInputVec key_in = Input(device_->key);
  KelmAuthInputVec input_in = Input(input);
  KelmAuthInputVec null_in{nullptr, 0};
  Output out;
  EXPECT_FALSE(KelmAuth_SignHash(nullptr, &input_in, &out.vec));
  EXPECT_FALSE(KelmAuth_SignHash(&key_in, nullptr, &out.vec));
  EXPECT_FALSE(KelmAuth_SignHash(&key_in, &null_in, &out.vec));
  EXPECT_FALSE(KelmAuth_SignHash(&key_in, &input_in, nullptr));
  EXPECT_FALSE(KelmAuth_GetModelCertChain(nullptr));

  KelmAuthDataVec no_alloc{nullptr, 0, {nullptr, &CountingFree}};
  EXPECT_FALSE(KelmAuth_SignHash(&key_in, &input_in, &no_alloc));
  KelmAuthDataVec no_free{nullptr, 0, {&CountingAlloc, nullptr}};
  EXPECT_FALSE(KelmAuth_GetModelCertChain(&no_free));
  uint8_t byte = 0;
  KelmAuthDataVec filled{&byte, 1, {&CountingAlloc, &CountingFree}};
  EXPECT_FALSE(KelmAuth_GetModelCertChain(&filled));
  EXPECT_EQ(filled.data, &byte);

  const std::string template_der = TemplateDer();
  KelmAuthInputVec ssid_in = Input(kSsid);
  KelmAuthInputVec template_in = Input(template_der);
  Output same;
  EXPECT_FALSE(KelmAuth_GenerateDeviceKeyAndCert(&ssid_in, &template_in,
                                                 &same.vec, &same.vec));
  EXPECT_TRUE(same.empty());
  EXPECT_FALSE(KelmAuth_GenerateDeviceKeyAndCert(nullptr, &template_in,
                                                 &out.vec, &same.vec));
  EXPECT_TRUE(out.empty());
}

// The test controls: each makes the call misbehave in one way.
TEST_F(KelmCoreAuthDevTest, ModelChainControls) {
  struct Case {
    const char* value;
    bool result;
    size_t certs;  // Certificates found in the PEM output.
    bool empty;    // Output record left empty.
    const char* template_name = kPlaceholder;
  };
  const Case cases[] = {
      {"fail", false, 0, true},
      {"empty", true, 0, true},
      {"template_only", true, 1, false},
      {"garbage", true, 0, false},
      {"with_key", true, 2, false},
      {"no_placeholder", true, 2, false, "AA:BB:CC:DD:EE:FG"},
      {"bogus", false, 0, true},
      {"", true, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_MODEL_CHAIN", c.value);
    Output chain;
    EXPECT_EQ(KelmAuth_GetModelCertChain(&chain.vec), c.result);
    EXPECT_EQ(chain.empty(), c.empty);
    std::vector<bssl::UniquePtr<X509>> certs = ParsePemChain(chain.bytes());
    EXPECT_EQ(certs.size(), c.certs);
    if (!certs.empty()) {
      EXPECT_EQ(CommonName(certs[0].get()), c.template_name);
    }
  }
  // Without the placeholder the template cannot become a device
  // certificate.
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_MODEL_CHAIN",
                                  "no_placeholder");
    Output chain;
    ASSERT_TRUE(KelmAuth_GetModelCertChain(&chain.vec));
    std::vector<bssl::UniquePtr<X509>> certs = ParsePemChain(chain.bytes());
    ASSERT_EQ(certs.size(), 2u);
    uint8_t* der = nullptr;
    const int der_len = i2d_X509(certs[0].get(), &der);
    ASSERT_GT(der_len, 0);
    const std::string template_der(reinterpret_cast<const char*>(der),
                                   static_cast<size_t>(der_len));
    OPENSSL_free(der);
    EXPECT_FALSE(Generate(kSsid, template_der).ok);
  }
}

// The result control sets the byte a call returns: with bit 0 set the call
// works and returns it, with bit 0 clear the call fails at once; text of
// another form fails the call with 0.
TEST_F(KelmCoreAuthDevTest, ResultControl) {
  struct Case {
    const char* value;
    int result;
    bool filled;  // The output record holds the chain.
  };
  const Case cases[] = {
      {"0x03", 0x03, true}, {"0xFF", 0xff, true}, {"0x02", 0x02, false},
      {"0x00", 0x00, false}, {"0x2", 0, false},   {"3", 0, false},
      {"0xzz", 0, false},   {"", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_RESULT", c.value);
    Output chain;
    EXPECT_EQ(static_cast<int>(KelmAuth_GetModelCertChain(&chain.vec)),
              c.result);
    EXPECT_EQ(chain.empty(), !c.filled);
    if (c.filled) {
      EXPECT_EQ(ParsePemChain(chain.bytes()).size(), 2u);
    }
  }
}

TEST_F(KelmCoreAuthDevTest, ModelChainWithKeyHasANonCertificateEntry) {
  ScopedEnvironmentVariable env("KELM_AUTH_DEV_MODEL_CHAIN", "with_key");
  const std::string pem = ModelChain();
  bssl::UniquePtr<BIO> bio(BIO_new_mem_buf(pem.data(), pem.size()));
  bssl::UniquePtr<STACK_OF(X509_INFO)> infos(
      PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr));
  ASSERT_TRUE(infos);
  // The template, the intermediate (with one key attached), the other key.
  ASSERT_EQ(sk_X509_INFO_num(infos.get()), 3u);
  EXPECT_NE(sk_X509_INFO_value(infos.get(), 0)->x509, nullptr);
  EXPECT_NE(sk_X509_INFO_value(infos.get(), 1)->x509, nullptr);
  EXPECT_EQ(sk_X509_INFO_value(infos.get(), 2)->x509, nullptr);
}

TEST_F(KelmCoreAuthDevTest, GenerateControls) {
  const std::string template_der = TemplateDer();
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_GENERATE", "fail");
    const Generated out = Generate(kSsid, template_der);
    EXPECT_FALSE(out.ok);
    EXPECT_TRUE(out.key.empty() && out.cert.empty());
  }
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_GENERATE", "empty");
    const Generated out = Generate(kSsid, template_der);
    EXPECT_TRUE(out.ok);
    EXPECT_TRUE(out.key.empty() && out.cert.empty());
  }
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_GENERATE", "key_only");
    const Generated out = Generate(kSsid, template_der);
    EXPECT_TRUE(out.ok);
    EXPECT_TRUE(out.cert.empty());
    // The key is a real one.
    EXPECT_TRUE(Sign(out.key, DigestInfoSha256("TEST")).ok);
  }
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_GENERATE", "garbage_cert");
    const Generated out = Generate(kSsid, template_der);
    EXPECT_TRUE(out.ok);
    EXPECT_FALSE(out.key.empty());
    EXPECT_FALSE(out.cert.empty());
    EXPECT_FALSE(ParseDer(out.cert));
  }
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_GENERATE", "bogus");
    EXPECT_FALSE(Generate(kSsid, template_der).ok);
  }
}

TEST_F(KelmCoreAuthDevTest, SignControls) {
  bssl::UniquePtr<X509> cert = ParseDer(device_->cert);
  ASSERT_TRUE(cert);
  const std::string input = DigestInfoSha256("TEST");
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_SIGN", "fail");
    const Signed out = Sign(device_->key, input);
    EXPECT_FALSE(out.ok);
    EXPECT_TRUE(out.signature.empty());
  }
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_SIGN", "empty");
    const Signed out = Sign(device_->key, input);
    EXPECT_TRUE(out.ok);
    EXPECT_TRUE(out.signature.empty());
  }
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_SIGN", "corrupt");
    const Signed out = Sign(device_->key, input);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.signature.size(), 256u);
    EXPECT_FALSE(VerifySha256(cert.get(), "TEST", out.signature));
  }
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_SIGN", "bogus");
    EXPECT_FALSE(Sign(device_->key, input).ok);
  }
}

// "hang" never returns: a child process that signs is still inside the call
// when its alarm ends it.
TEST_F(KelmCoreAuthDevTest, SignHangNeverReturns) {
  const std::string key = device_->key;
  const std::string input = DigestInfoSha256("TEST");
  EXPECT_EXIT(
      {
        setenv("KELM_AUTH_DEV_SIGN", "hang", 1);
        alarm(1);
        Sign(key, input);
        _exit(0);
      },
      testing::KilledBySignal(SIGALRM), "");
}

TEST_F(KelmCoreAuthDevTest, CallLogCountsEveryCall) {
  std::string path = testing::TempDir() + "kelm_auth_calls_XXXXXX";
  const int fd = mkstemp(path.data());
  ASSERT_GE(fd, 0);
  close(fd);
  {
    ScopedEnvironmentVariable env("KELM_AUTH_DEV_CALL_LOG", path);
    ModelChain();
    Sign(device_->key, DigestInfoSha256("a"));
    {
      ScopedEnvironmentVariable fail("KELM_AUTH_DEV_SIGN", "fail");
      Sign(device_->key, DigestInfoSha256("b"));
    }
    Sign("not a key", DigestInfoSha256("c"));
    KelmAuthInputVec ssid_in = Input(kSsid);
    Output key, cert;
    KelmAuth_GenerateDeviceKeyAndCert(&ssid_in, nullptr, &key.vec, &cert.vec);
  }
  // Not counted: the variable is gone.
  ModelChain();
  EXPECT_EQ(ReadFile(path),
            "KelmAuth_GetModelCertChain\n"
            "KelmAuth_SignHash\n"
            "KelmAuth_SignHash\n"
            "KelmAuth_SignHash\n"
            "KelmAuth_GenerateDeviceKeyAndCert\n");
  unlink(path.c_str());
}

TEST_F(KelmCoreAuthDevTest, ReleasesNothingItDidNotAllocate) {
  const int allocations = g_allocations;
  const int releases = g_releases;
  {
    Output chain;
    ASSERT_TRUE(KelmAuth_GetModelCertChain(&chain.vec));
  }
  EXPECT_EQ(g_allocations, allocations + 1);
  EXPECT_EQ(g_releases, releases + 1);
}

TEST_F(KelmCoreAuthDevTest, CallsFromSeveralThreads) {
  bssl::UniquePtr<X509> cert = ParseDer(device_->cert);
  ASSERT_TRUE(cert);
  constexpr int kThreads = 4;
  constexpr int kCallsPerThread = 8;
  std::vector<std::thread> threads;
  std::atomic<int> verified{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsPerThread; ++i) {
        const std::string message =
            "message " + std::to_string(t) + "/" + std::to_string(i);
        const Signed sig = Sign(device_->key, DigestInfoSha256(message));
        if (sig.ok && VerifySha256(cert.get(), message, sig.signature)) {
          ++verified;
        }
        Output chain;
        if (!KelmAuth_GetModelCertChain(&chain.vec) || chain.empty()) return;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(verified, kThreads * kCallsPerThread);
}

}  // namespace
