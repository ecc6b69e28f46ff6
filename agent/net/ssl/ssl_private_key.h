#ifndef AGENT_NET_SSL_SSL_PRIVATE_KEY_H_
#define AGENT_NET_SSL_SSL_PRIVATE_KEY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "agent/base/containers/span.h"
#include "agent/base/functional/callback.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/net/base/net_errors.h"

namespace net {

// A private key that signs for client authentication, possibly on another
// thread or device. Shared through its atomic reference count.
class SSLPrivateKey : public kelmbase::RefCountedThreadSafe<SSLPrivateKey> {
 public:
  using SignCallback =
      kelmbase::OneShotCallback<void(Error, std::vector<uint8_t>)>;

  SSLPrivateKey(const SSLPrivateKey&) = delete;
  SSLPrivateKey& operator=(const SSLPrivateKey&) = delete;

  // A label naming where the key lives, for records.
  virtual std::string ProviderLabel() = 0;

  // The TLS signature schemes the key can sign with, most preferred first.
  virtual std::vector<uint16_t> SupportedAlgorithms() = 0;

  // Signs `input` with the scheme `algorithm` (a TLS SignatureScheme code;
  // the implementation hashes). `callback` runs later, on the calling
  // thread, with OK and the signature or an error and no bytes; see the
  // implementation for the threads it needs.
  virtual void Sign(uint16_t algorithm, kelmbase::span<const uint8_t> input,
                    SignCallback callback) = 0;

 protected:
  friend class kelmbase::RefCountedThreadSafe<SSLPrivateKey>;
  SSLPrivateKey() = default;
  virtual ~SSLPrivateKey() = default;
};

}  // namespace net

#endif  // AGENT_NET_SSL_SSL_PRIVATE_KEY_H_
