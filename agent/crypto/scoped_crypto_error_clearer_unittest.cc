#include "agent/crypto/scoped_crypto_error_clearer.h"

#include <openssl/bytestring.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "gtest/gtest.h"

namespace crypto {
namespace {

// A failing BoringSSL call inside the scope leaves errors in the queue
// only until the scope ends.
TEST(ScopedCryptoErrorClearerTest, ClearsErrorsOnExit) {
  ERR_clear_error();
  {
    ScopedCryptoErrorClearer clearer(FROM_HERE);
    const uint8_t not_a_key[] = {0x30, 0x03, 0x02, 0x01, 0x00};
    CBS cbs;
    CBS_init(&cbs, not_a_key, sizeof(not_a_key));
    EXPECT_EQ(nullptr, EVP_parse_public_key(&cbs));
    EXPECT_NE(0u, ERR_peek_error());
  }
  EXPECT_EQ(0u, ERR_peek_error());
}

}  // namespace
}  // namespace crypto
