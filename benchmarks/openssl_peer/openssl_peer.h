#ifndef BENCHMARKS_OPENSSL_PEER_OPENSSL_PEER_H_
#define BENCHMARKS_OPENSSL_PEER_OPENSSL_PEER_H_

// The OpenSSL 3 side of the peer benchmarks, behind an interface that
// names no OpenSSL type. OpenSSL's libcrypto is loaded privately at run
// time (its own references bind within itself), so it lives in the same
// process as BoringSSL, which our libraries link, without either library
// seeing the other's symbols. Single-threaded use only.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace openssl_peer {

// Loads OpenSSL's libcrypto from `library_path`; a fatal check when it or
// one of the functions used cannot be loaded.
void Load(const char* library_path);

// d2i_X509 of `der` then X509_free; true when the bytes parsed.
bool ParseAndFree(const std::string& der);

// Parses the three certificates afresh, puts the root in a new store and
// runs X509_verify_cert for the leaf with the intermediate as untrusted,
// at time `at`. True when OpenSSL accepts the chain.
bool VerifyChain(const std::string& leaf_der,
                 const std::string& intermediate_der,
                 const std::string& root_der,
                 time_t at);

// The same for PEM texts, as `openssl verify` reads a device chain, for the
// SSL client purpose.
bool VerifyPemChain(const std::string& device_pem,
                    const std::string& intermediate_pem,
                    const std::string& root_pem,
                    time_t at);

}  // namespace openssl_peer

#endif  // BENCHMARKS_OPENSSL_PEER_OPENSSL_PEER_H_
