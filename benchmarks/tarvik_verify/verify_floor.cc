// The floor for tarvik's verify: the least a program can do for the same
// proof. It starts, loads the platform library (linked as the tool links
// it), signs the DigestInfo of SHA-1("TEST") once with the wrapped key and
// checks the signature against the device certificate with BoringSSL.
//   verify_floor <certificate chain PEM> <wrapped key>
// Exit status 0 when the signature verifies.

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/mem.h>
#include <openssl/nid.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

namespace {

bool ReadFile(const char* path, std::string* contents) {
  FILE* file = fopen(path, "rbe");
  if (file == nullptr) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) {
    contents->append(buffer, n);
  }
  fclose(file);
  return true;
}

void* Alloc(size_t size) { return malloc(size); }
void Free(void* data) { free(data); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string chain;
  std::string key;
  if (!ReadFile(argv[1], &chain) || !ReadFile(argv[2], &key)) return 1;

  uint8_t digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const uint8_t*>("TEST"), 4, digest);
  uint8_t* digest_info = nullptr;
  size_t digest_info_length = 0;
  int is_alloced = 0;
  if (!RSA_add_pkcs1_prefix(&digest_info, &digest_info_length, &is_alloced,
                            NID_sha1, digest, sizeof(digest))) {
    return 1;
  }
  const KelmAuthInputVec key_vec = {
      reinterpret_cast<const uint8_t*>(key.data()), key.size()};
  const KelmAuthInputVec input_vec = {digest_info, digest_info_length};
  KelmAuthDataVec signature = {nullptr, 0, {&Alloc, &Free}};
  const bool signed_ok =
      KelmAuth_SignHash != nullptr &&
      (KelmAuth_SignHash(&key_vec, &input_vec, &signature) & 1) != 0;
  if (is_alloced) OPENSSL_free(digest_info);
  if (!signed_ok) return 1;

  bssl::UniquePtr<BIO> bio(BIO_new_mem_buf(chain.data(), chain.size()));
  bssl::UniquePtr<X509> cert(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!cert) return 1;
  bssl::UniquePtr<EVP_PKEY> public_key(X509_get_pubkey(cert.get()));
  RSA* rsa = public_key ? EVP_PKEY_get0_RSA(public_key.get()) : nullptr;
  const bool verified =
      rsa != nullptr && RSA_verify(NID_sha1, digest, sizeof(digest),
                                   signature.data, signature.len, rsa) == 1;
  free(signature.data);
  return verified ? 0 : 1;
}
