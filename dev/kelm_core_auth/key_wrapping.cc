#include "dev/kelm_core_auth/key_wrapping.h"

#include <openssl/aead.h>
#include <openssl/bytestring.h>
#include <openssl/mem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstring>

namespace kelm_auth_dev {
namespace {

constexpr uint8_t kMagic[] = {'K', 'D', 'W', 'K'};
constexpr uint8_t kVersion = 1;
constexpr size_t kHeaderLen = sizeof(kMagic) + 1;
constexpr size_t kNonceLen = 12;
constexpr size_t kTagLen = 16;

// The development wrapping key. A real device keeps this in hardware; here it
// only has to stay inside this library, which is all the tool may assume.
constexpr uint8_t kWrappingKey[32] = {
    0x6b, 0x65, 0x6c, 0x6d, 0x2d, 0x64, 0x65, 0x76, 0x9e, 0x31, 0xc4,
    0x58, 0x0d, 0xa2, 0x77, 0xf3, 0x14, 0xbb, 0x60, 0x2e, 0xd9, 0x85,
    0x4a, 0xc7, 0x3f, 0x91, 0x08, 0x5c, 0xe6, 0x23, 0xad, 0x70};

bool InitContext(EVP_AEAD_CTX* ctx) {
  return EVP_AEAD_CTX_init(ctx, EVP_aead_aes_256_gcm(), kWrappingKey,
                           sizeof(kWrappingKey), kTagLen,
                           /*impl=*/nullptr) == 1;
}

void WriteHeader(uint8_t* out) {
  memcpy(out, kMagic, sizeof(kMagic));
  out[sizeof(kMagic)] = kVersion;
}

}  // namespace

std::string WrapPrivateKey(const RSA* key) {
  uint8_t* der = nullptr;
  size_t der_len = 0;
  if (!RSA_private_key_to_bytes(&der, &der_len, key)) return std::string();
  bssl::UniquePtr<uint8_t> der_owner(der);

  bssl::ScopedEVP_AEAD_CTX ctx;
  if (!InitContext(ctx.get())) return std::string();

  std::string blob(kHeaderLen + kNonceLen + der_len + kTagLen, '\0');
  uint8_t* out = reinterpret_cast<uint8_t*>(blob.data());
  WriteHeader(out);
  uint8_t* nonce = out + kHeaderLen;
  if (!RAND_bytes(nonce, kNonceLen)) return std::string();
  uint8_t* sealed = nonce + kNonceLen;
  size_t sealed_len = 0;
  if (!EVP_AEAD_CTX_seal(ctx.get(), sealed, &sealed_len, der_len + kTagLen,
                         nonce, kNonceLen, der, der_len, out, kHeaderLen)) {
    return std::string();
  }
  // The plaintext key is not needed any more; don't leave it on the heap.
  OPENSSL_cleanse(der, der_len);
  blob.resize(kHeaderLen + kNonceLen + sealed_len);
  return blob;
}

bssl::UniquePtr<RSA> UnwrapPrivateKey(const uint8_t* blob, size_t blob_len) {
  if (blob == nullptr || blob_len <= kHeaderLen + kNonceLen + kTagLen) {
    return nullptr;
  }
  if (memcmp(blob, kMagic, sizeof(kMagic)) != 0 ||
      blob[sizeof(kMagic)] != kVersion) {
    return nullptr;
  }
  bssl::ScopedEVP_AEAD_CTX ctx;
  if (!InitContext(ctx.get())) return nullptr;

  const uint8_t* nonce = blob + kHeaderLen;
  const uint8_t* sealed = nonce + kNonceLen;
  const size_t sealed_len = blob_len - kHeaderLen - kNonceLen;
  std::string der(sealed_len, '\0');
  uint8_t* der_data = reinterpret_cast<uint8_t*>(der.data());
  size_t der_len = 0;
  if (!EVP_AEAD_CTX_open(ctx.get(), der_data, &der_len, der.size(), nonce,
                         kNonceLen, sealed, sealed_len, blob, kHeaderLen)) {
    return nullptr;
  }

  CBS cbs;
  CBS_init(&cbs, der_data, der_len);
  bssl::UniquePtr<RSA> key(RSA_parse_private_key(&cbs));
  OPENSSL_cleanse(der_data, der.size());
  if (!key || CBS_len(&cbs) != 0 || RSA_bits(key.get()) != 2048 ||
      !RSA_check_key(key.get())) {
    return nullptr;
  }
  return key;
}

}  // namespace kelm_auth_dev
