#ifndef AGENT_NET_CERT_INTERNAL_VERIFY_SIGNED_DATA_H_
#define AGENT_NET_CERT_INTERNAL_VERIFY_SIGNED_DATA_H_

#include <openssl/base.h>

#include "agent/net/cert/internal/signature_algorithm.h"
#include "agent/net/der/input.h"
#include "agent/net/der/parse_values.h"

namespace net {

// The BoringSSL digest of `digest`: false (and null) for the MD digests,
// which we never verify with.
[[nodiscard]] bool DigestToEvpMd(DigestAlgorithm digest, const EVP_MD** out);

// Parses a DER SubjectPublicKeyInfo that must span all of `spki`. On success
// `*public_key` holds the key; otherwise it is null. Whatever `*public_key`
// held before is freed either way.
[[nodiscard]] bool ParsePublicKey(const der::Input& spki,
                                  bssl::UniquePtr<EVP_PKEY>* public_key);

// Whether `signature` is a valid signature of `signed_data` by
// `public_key` under `algorithm`. The key's type must suit the algorithm
// (RSA for RSA_PKCS1 and RSA_PSS, EC for ECDSA; DSA is never verified) and
// the signature must use whole bytes (no unused bits). Any thread may call
// this; it leaves nothing in the thread's BoringSSL error queue.
[[nodiscard]] bool VerifySignedData(const SignatureAlgorithm& algorithm,
                                    const der::Input& signed_data,
                                    const der::BitString& signature,
                                    EVP_PKEY* public_key);

// VerifySignedData with the key of a DER SubjectPublicKeyInfo; false when
// the key does not parse.
[[nodiscard]] bool VerifySignedDataWithSpki(const SignatureAlgorithm& algorithm,
                                            const der::Input& signed_data,
                                            const der::BitString& signature,
                                            const der::Input& spki);

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_VERIFY_SIGNED_DATA_H_
