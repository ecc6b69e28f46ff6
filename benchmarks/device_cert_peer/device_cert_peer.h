#ifndef BENCHMARKS_DEVICE_CERT_PEER_DEVICE_CERT_PEER_H_
#define BENCHMARKS_DEVICE_CERT_PEER_DEVICE_CERT_PEER_H_

// What `openssl verify` does for a device chain, in-process with OpenSSL 3,
// behind an interface that names no OpenSSL type. OpenSSL's libcrypto is
// loaded privately at run time, beside the BoringSSL our libraries link.
// Single-threaded use only.

#include <ctime>
#include <string>

namespace device_cert_peer {

// Loads OpenSSL's libcrypto from `library_path`; fatal when it or one of
// the functions used cannot be loaded.
void Load(const char* library_path);

// Parses the three PEM texts afresh, puts the root in a new store and runs
// X509_verify_cert for the device certificate with the intermediate as
// untrusted, for the SSL client purpose at time `at`. True when OpenSSL
// accepts the chain.
bool VerifyPemChain(const std::string& device_pem,
                    const std::string& intermediate_pem,
                    const std::string& root_pem,
                    time_t at);

}  // namespace device_cert_peer

#endif  // BENCHMARKS_DEVICE_CERT_PEER_DEVICE_CERT_PEER_H_
