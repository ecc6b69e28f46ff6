#ifndef AGENT_CRYPTO_CRYPTO_INIT_H_
#define AGENT_CRYPTO_CRYPTO_INIT_H_

namespace crypto {

// Makes sure BoringSSL is initialised. The library initialises itself when
// the process starts, so this has nothing left to do in practice; call it
// before first use all the same. Any thread may call it, any number of
// times.
void EnsureCryptoInit();

}  // namespace crypto

#endif  // AGENT_CRYPTO_CRYPTO_INIT_H_
