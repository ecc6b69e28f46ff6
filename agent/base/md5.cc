#include "agent/base/md5.h"

#include <openssl/md5.h>

namespace kelmbase {

static_assert(kMd5Length == MD5_DIGEST_LENGTH);

void Md5Sum(const void* data, size_t length, uint8_t* out) {
  MD5(static_cast<const uint8_t*>(data), length, out);
}

}  // namespace kelmbase
