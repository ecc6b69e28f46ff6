// Runs the Wycheproof signature vectors (RSA PKCS#1 v1.5, RSA-PSS and
// ECDSA P-256, all with SHA-256) through VerifySignedDataWithSpki, with the
// group's SubjectPublicKeyInfo and the algorithm its file names.

#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/strings/string_number_conversions.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/signature_algorithm.h"
#include "agent/net/cert/internal/simple_path_builder_delegate.h"
#include "agent/net/cert/internal/verify_signed_data.h"
#include "agent/net/der/der_test_util.h"
#include "agent/net/der/parse_values.h"
#include "gtest/gtest.h"

namespace net {
namespace {

// Just enough JSON for the vector files: objects, arrays, strings (with
// escapes), numbers kept as text, true, false and null.
struct Json {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  std::string text;  // String contents, or a number's text.
  std::vector<Json> array;
  std::map<std::string, Json> object;

  const Json& operator[](const std::string& key) const {
    static const Json kMissing;
    auto it = object.find(key);
    return it == object.end() ? kMissing : it->second;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  bool Read(Json* out) {
    if (!ReadValue(out))
      return false;
    SkipSpace();
    return pos_ == text_.size();
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' ||
            text_[pos_] == '\t')) {
      ++pos_;
    }
  }

  bool Consume(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool ConsumeWord(const char* word) {
    const std::string w(word);
    if (text_.compare(pos_, w.size(), w) != 0)
      return false;
    pos_ += w.size();
    return true;
  }

  bool ReadValue(Json* out) {
    SkipSpace();
    if (pos_ >= text_.size())
      return false;
    const char c = text_[pos_];
    if (c == '{')
      return ReadObject(out);
    if (c == '[')
      return ReadArray(out);
    if (c == '"') {
      out->type = Json::Type::kString;
      return ReadString(&out->text);
    }
    if (ConsumeWord("true")) {
      out->type = Json::Type::kBool;
      out->boolean = true;
      return true;
    }
    if (ConsumeWord("false")) {
      out->type = Json::Type::kBool;
      return true;
    }
    if (ConsumeWord("null"))
      return true;
    const size_t start = pos_;
    while (pos_ < text_.size() &&
           std::string("+-0123456789.eE").find(text_[pos_]) !=
               std::string::npos) {
      ++pos_;
    }
    if (pos_ == start)
      return false;
    out->type = Json::Type::kNumber;
    out->text = text_.substr(start, pos_ - start);
    return true;
  }

  bool ReadObject(Json* out) {
    out->type = Json::Type::kObject;
    ++pos_;
    if (Consume('}'))
      return true;
    do {
      SkipSpace();
      std::string key;
      if (!ReadString(&key) || !Consume(':'))
        return false;
      if (!ReadValue(&out->object[key]))
        return false;
    } while (Consume(','));
    return Consume('}');
  }

  bool ReadArray(Json* out) {
    out->type = Json::Type::kArray;
    ++pos_;
    if (Consume(']'))
      return true;
    do {
      out->array.emplace_back();
      if (!ReadValue(&out->array.back()))
        return false;
    } while (Consume(','));
    return Consume(']');
  }

  bool ReadString(std::string* out) {
    if (pos_ >= text_.size() || text_[pos_] != '"')
      return false;
    ++pos_;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"')
        return true;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= text_.size())
        return false;
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          *out += escape;
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'n':
          *out += '\n';
          break;
        case 'r':
          *out += '\r';
          break;
        case 't':
          *out += '\t';
          break;
        case 'u': {
          // Only comments hold these; keep them as a placeholder.
          if (pos_ + 4 > text_.size())
            return false;
          pos_ += 4;
          *out += '?';
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  const std::string& text_;
  size_t pos_ = 0;
};

std::string TestDataPath(const char* file) {
  return std::string(KELM_WYCHEPROOF_TESTDATA_DIR) + "/" + file;
}

bool ReadJsonFile(const std::string& path, Json* out) {
  std::string text;
  if (!kelmbase::ReadFileToString(kelmbase::FilePath(path), &text))
    return false;
  return JsonReader(text).Read(out);
}

std::string Bytes(const Json& hex) {
  if (hex.text.empty())
    return std::string();
  std::vector<uint8_t> bytes;
  CHECK(kelmbase::HexStringToBytes(hex.text, &bytes)) << hex.text;
  return std::string(bytes.begin(), bytes.end());
}

using der::test::FromHex;
using der::test::Sequence;
using der::test::Tlv;

const char kOidSha256[] = "608648016503040201";

std::string Sha256WithRsaEncryption() {
  return Sequence({Tlv(0x06, FromHex("2a864886f70d01010b")), FromHex("0500")});
}

std::string EcdsaWithSha256() {
  return Sequence({Tlv(0x06, FromHex("2a8648ce3d040302"))});
}

// RSASSA-PSS with SHA-256 for the message and MGF1, and the group's salt
// length.
std::string RsaPssSha256(uint8_t salt_length) {
  const std::string sha256 =
      Sequence({Tlv(0x06, FromHex(kOidSha256)), FromHex("0500")});
  const std::string mgf1 =
      Sequence({Tlv(0x06, FromHex("2a864886f70d010108")), sha256});
  return Sequence(
      {Tlv(0x06, FromHex("2a864886f70d01010a")),
       Sequence({Tlv(0xA0, sha256), Tlv(0xA1, mgf1),
                 Tlv(0xA2, Tlv(0x02, std::string(1, salt_length)))})});
}

struct FileCase {
  const char* file;
  const char* algorithm;  // The file's "algorithm".
};

void PrintTo(const FileCase& file_case, std::ostream* os) {
  *os << file_case.file;
}

class WycheproofTest : public testing::TestWithParam<FileCase> {};

TEST_P(WycheproofTest, AgreesWithEveryVector) {
  const FileCase& param = GetParam();
  Json root;
  ASSERT_TRUE(ReadJsonFile(TestDataPath(param.file), &root))
      << "cannot read " << TestDataPath(param.file);
  ASSERT_EQ(param.algorithm, root["algorithm"].text);

  // The policy that the device-certificate validator applies to keys and
  // algorithms: 2048-bit RSA at least, SHA-1 allowed. Every vector's key
  // (2048-bit RSA or P-256) and algorithm lie inside it, so no valid vector
  // is refused by this system's rules; a valid vector that does not verify
  // is a fault.
  SimplePathBuilderDelegate policy(
      2048, SimplePathBuilderDelegate::DigestPolicy::kWeakAllowSha1);

  size_t valid = 0, invalid = 0, acceptable = 0;
  for (const Json& group : root["testGroups"].array) {
    ASSERT_EQ("SHA-256", group["sha"].text);
    std::string algorithm_der;
    const std::string type = group["type"].text;
    if (type == "RsassaPkcs1Verify") {
      algorithm_der = Sha256WithRsaEncryption();
    } else if (type == "RsassaPssVerify") {
      ASSERT_EQ("MGF1", group["mgf"].text);
      ASSERT_EQ("SHA-256", group["mgfSha"].text);
      algorithm_der = RsaPssSha256(
          static_cast<uint8_t>(std::atoi(group["sLen"].text.c_str())));
    } else if (type == "EcdsaVerify") {
      algorithm_der = EcdsaWithSha256();
    } else {
      FAIL() << "unexpected group type " << type;
    }
    std::unique_ptr<SignatureAlgorithm> algorithm =
        SignatureAlgorithm::Create(der::Input(algorithm_der), nullptr);
    ASSERT_TRUE(algorithm);
    const std::string spki = Bytes(group["publicKeyDer"]);

    bssl::UniquePtr<EVP_PKEY> key;
    const bool key_parses = ParsePublicKey(der::Input(spki), &key);
    CertErrors policy_errors;
    const bool policy_accepts =
        key_parses && policy.AcceptsPublicKey(key.get(), &policy_errors) &&
        policy.AcceptsSignatureAlgorithm(*algorithm, &policy_errors);

    for (const Json& test : group["tests"].array) {
      const int tc_id = std::atoi(test["tcId"].text.c_str());
      const std::string message = Bytes(test["msg"]);
      const std::string signature_bytes = Bytes(test["sig"]);
      const der::BitString signature(der::Input(signature_bytes), 0);
      const bool verified = VerifySignedDataWithSpki(
          *algorithm, der::Input(message), signature, der::Input(spki));
      const std::string& result = test["result"].text;
      const std::string label = std::string(param.file) + " tcId " +
                                std::to_string(tc_id) + " (" +
                                test["comment"].text + ")";

      if (result == "valid") {
        ++valid;
        EXPECT_TRUE(verified) << label << ": valid vector not verified";
        EXPECT_TRUE(policy_accepts)
            << label << ": valid vector refused by policy: "
            << policy_errors.ToDebugString();
      } else if (result == "invalid") {
        ++invalid;
        EXPECT_FALSE(verified) << label << ": invalid vector verified";
      } else if (result == "acceptable") {
        ++acceptable;
        std::string flags;
        for (const Json& flag : test["flags"].array)
          flags += (flags.empty() ? "" : ",") + flag.text;
        printf("acceptable %s [%s]: %s\n", label.c_str(), flags.c_str(),
               verified ? "verified" : "refused");
      } else {
        ADD_FAILURE() << label << ": unknown result " << result;
      }
    }
  }
  printf("%s: %zu valid, %zu invalid, %zu acceptable\n", param.file, valid,
         invalid, acceptable);
  EXPECT_EQ(static_cast<size_t>(std::atoi(root["numberOfTests"].text.c_str())),
            valid + invalid + acceptable);
}

INSTANTIATE_TEST_SUITE_P(
    All,
    WycheproofTest,
    testing::Values(
        FileCase{"rsa_signature_2048_sha256_test.json", "RSASSA-PKCS1-v1_5"},
        FileCase{"rsa_pss_2048_sha256_mgf1_32_test.json", "RSASSA-PSS"},
        FileCase{"ecdsa_secp256r1_sha256_test.json", "ECDSA"}),
    [](const testing::TestParamInfo<FileCase>& info) {
      std::string name = info.param.file;
      return name.substr(0, name.find('_', name.find('_') + 1));
    });

}  // namespace
}  // namespace net
