#ifndef DEV_KELM_CORE_AUTH_KEY_WRAPPING_H_
#define DEV_KELM_CORE_AUTH_KEY_WRAPPING_H_

#include <openssl/base.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelm_auth_dev {

// A device key leaves the library only wrapped: sealed with AES-256-GCM under
// a wrapping key that never leaves the library (the development stand-in for
// the device's hardware key). The blob is
//   "KDWK" | version 1 | 12-byte nonce | sealed RSAPrivateKey DER + 16-byte tag
// with the first five bytes authenticated as associated data, so any change
// to the blob makes unwrapping fail.

// Wraps `key`'s private key. Empty on failure.
std::string WrapPrivateKey(const RSA* key);

// Unwraps a blob made by WrapPrivateKey. Null for a blob that is truncated,
// tampered with, sealed under another wrapping key, or does not hold an
// RSA-2048 private key.
bssl::UniquePtr<RSA> UnwrapPrivateKey(const uint8_t* blob, size_t blob_len);

}  // namespace kelm_auth_dev

#endif  // DEV_KELM_CORE_AUTH_KEY_WRAPPING_H_
