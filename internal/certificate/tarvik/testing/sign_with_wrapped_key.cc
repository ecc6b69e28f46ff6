// Test tool: signs a file's SHA-256 digest with a wrapped key through the
// platform library, as the tool's signing path does, so that a test can check
// the signature with an independent verifier.
//   sign_with_wrapped_key <wrapped key file> <data file> <signature out>

#include <openssl/digest.h>
#include <openssl/mem.h>
#include <openssl/nid.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

namespace {

bool ReadFile(const char* path, std::string* contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  *contents = buffer.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s <wrapped key> <data> <signature out>\n",
            argv[0]);
    return 2;
  }
  std::string key;
  std::string data;
  if (!ReadFile(argv[1], &key) || !ReadFile(argv[2], &data)) {
    fprintf(stderr, "cannot read the key or the data\n");
    return 1;
  }
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const uint8_t*>(data.data()), data.size(), digest);
  uint8_t* digest_info = nullptr;
  size_t digest_info_length = 0;
  int is_alloced = 0;
  if (!RSA_add_pkcs1_prefix(&digest_info, &digest_info_length, &is_alloced,
                            NID_sha256, digest, sizeof(digest))) {
    fprintf(stderr, "cannot build the DigestInfo block\n");
    return 1;
  }
  const std::string input(reinterpret_cast<const char*>(digest_info),
                          digest_info_length);
  if (is_alloced) OPENSSL_free(digest_info);

  std::string signature;
  if (!kelm_auth::SignHash(key, input, &signature)) {
    fprintf(stderr, "the platform library did not sign\n");
    return 1;
  }
  std::ofstream out(argv[3], std::ios::binary);
  out.write(signature.data(), static_cast<std::streamsize>(signature.size()));
  return out ? 0 : 1;
}
