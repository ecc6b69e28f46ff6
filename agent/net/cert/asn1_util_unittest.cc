#include "agent/net/cert/asn1_util.h"

#include <openssl/digest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "agent/crypto/signature_verifier.h"
#include "agent/crypto/test/test_keys.h"
#include "agent/net/der/der_test_util.h"
#include "gtest/gtest.h"

namespace net::asn1 {
namespace {

using der::test::FromHex;
using der::test::Sequence;
using der::test::Tlv;

const std::string kVersion3 = Tlv(0xA0, FromHex("020102"));
const std::string kSerial = FromHex("020101");
const std::string kAlgorithm = FromHex("300d06092a864886f70d0101050500");
const std::string kName =
    Sequence({Tlv(0x31, Sequence({FromHex("0603550403"), Tlv(0x0C, "x")}))});
const std::string kValidity =
    Sequence({Tlv(0x17, "240101000000Z"), Tlv(0x17, "340101000000Z")});
const std::string kExtensions = Tlv(0xA3, Sequence({}));

std::string Certificate(const std::string& tbs) {
  return Sequence({tbs, kAlgorithm, Tlv(0x03, FromHex("0000"))});
}

TEST(ExtractSubjectPublicKeyInfoTest, FindsTheKeyOrRefusesTheFraming) {
  const std::string spki = Sequence({Sequence({FromHex("06032a0304")}),
                                     Tlv(0x03, FromHex("00aabb"))});
  struct Case {
    const char* name;
    std::string cert;
    bool ok;
  };
  const Case kCases[] = {
      {"version 3",
       Certificate(Sequence({kVersion3, kSerial, kAlgorithm, kName, kValidity,
                             kName, spki, kExtensions})),
       true},
      {"version 1, no [0]",
       Certificate(
           Sequence({kSerial, kAlgorithm, kName, kValidity, kName, spki})),
       true},
      {"trailing bytes after the certificate",
       Certificate(Sequence({kVersion3, kSerial, kAlgorithm, kName, kValidity,
                             kName, spki})) +
           FromHex("00"),
       false},
      {"no serial number",
       Certificate(Sequence({kVersion3, kAlgorithm, kName, kValidity, kName,
                             spki})),
       false},
      {"nothing after the subject",
       Certificate(
           Sequence({kVersion3, kSerial, kAlgorithm, kName, kValidity, kName})),
       false},
      {"TBS not a SEQUENCE",
       Certificate(Tlv(0x31, kSerial + kAlgorithm + kName + kValidity + kName +
                                 spki)),
       false},
      {"empty", "", false},
  };
  for (const Case& c : kCases) {
    kelmbase::StringPiece out;
    ASSERT_EQ(c.ok, ExtractSubjectPublicKeyInfo(c.cert, &out)) << c.name;
    if (!c.ok)
      continue;
    EXPECT_EQ(spki, std::string(out.data(), out.size())) << c.name;
    // A view into the certificate, not a copy.
    EXPECT_TRUE(out.data() >= c.cert.data() &&
                out.data() + out.size() <= c.cert.data() + c.cert.size())
        << c.name;
  }
}

// The device tool's check: the key found in the certificate verifies an
// RSA PKCS#1 SHA-1 signature over "TEST", and not a changed one.
TEST(ExtractSubjectPublicKeyInfoTest, KeyVerifiesSignatureOfTheCertKey) {
  bssl::UniquePtr<EVP_PKEY> key = crypto::test::GenerateRsaKey(2048);
  const std::vector<uint8_t> spki_bytes =
      crypto::test::SubjectPublicKeyInfo(key.get());
  const std::string cert = Certificate(
      Sequence({kVersion3, kSerial, kAlgorithm, kName, kValidity, kName,
                std::string(spki_bytes.begin(), spki_bytes.end()),
                kExtensions}));
  kelmbase::StringPiece spki;
  ASSERT_TRUE(ExtractSubjectPublicKeyInfo(cert, &spki));

  const std::string message = "TEST";
  std::vector<uint8_t> signature =
      crypto::test::Sign(key.get(), EVP_sha1(), message);
  const kelmbase::span<const uint8_t> spki_span(
      reinterpret_cast<const uint8_t*>(spki.data()), spki.size());
  const kelmbase::span<const uint8_t> message_span(
      reinterpret_cast<const uint8_t*>(message.data()), message.size());

  crypto::SignatureVerifier verifier;
  ASSERT_TRUE(verifier.VerifyInit(crypto::SignatureVerifier::RSA_PKCS1_SHA1,
                                  signature, spki_span));
  verifier.VerifyUpdate(message_span);
  EXPECT_TRUE(verifier.VerifyFinal());

  signature[0] ^= 0x01;
  ASSERT_TRUE(verifier.VerifyInit(crypto::SignatureVerifier::RSA_PKCS1_SHA1,
                                  signature, spki_span));
  verifier.VerifyUpdate(message_span);
  EXPECT_FALSE(verifier.VerifyFinal());
}

}  // namespace
}  // namespace net::asn1
