#ifndef AGENT_NET_CERT_INTERNAL_NORMALIZED_NAME_HASH_H_
#define AGENT_NET_CERT_INTERNAL_NORMALIZED_NAME_HASH_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace net {

// The hash of the name-keyed certificate maps: h = h * 131 + byte over the
// unsigned bytes, wrapping at 64 bits. It depends on the bytes only, so a
// map's answers do not depend on where a key's bytes live.
struct NormalizedNameHash {
  size_t operator()(std::string_view key) const {
    uint64_t h = 0;
    for (char c : key)
      h = h * 131 + static_cast<uint8_t>(c);
    return static_cast<size_t>(h);
  }
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_NORMALIZED_NAME_HASH_H_
