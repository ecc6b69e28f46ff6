#ifndef INTERNAL_SDK_KELM_CORE_AUTH_KELM_AUTH_C_API_H_
#define INTERNAL_SDK_KELM_CORE_AUTH_KELM_AUTH_C_API_H_

// The boundary to the platform authentication library libkelm_core_auth.so
// (symbol version KELM_AUTH_1.0): its plain records and its three functions,
// and the tool's wrappers that turn std::strings into those records and back.
//
// The device's secrets never reach the tool in the clear: the library holds
// the model chain, generates the device key and certificate, and signs with
// the device key, which the tool only ever sees wrapped.

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <string>
#endif

// The library itself is built with KELM_AUTH_IMPLEMENTATION and exports the
// three functions. Everyone else imports them as weak symbols, bound at
// start-up: a library that lacks one leaves it null, which the wrappers below
// report as a failing call instead of jumping to address zero.
#if defined(KELM_AUTH_IMPLEMENTATION)
#define KELM_AUTH_API __attribute__((visibility("default")))
#else
#define KELM_AUTH_API __attribute__((weak))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Input bytes handed to the library. Points into a caller's buffer for the
// duration of one call; `data` is never null (an empty input has a valid
// pointer and `len` 0).
typedef struct KelmAuthInputVec {
  const uint8_t* data;
  uint64_t len;
} KelmAuthInputVec;

// The allocation and release callbacks with which the library makes the
// buffers of its outputs, so that the caller can release them.
typedef struct KelmAuthMmOps {
  void* (*alloc)(size_t size);
  void (*free)(void* data);
} KelmAuthMmOps;

// Output bytes filled by the library. The caller hands it in with `data`
// null, `len` 0 and both callbacks set; the library allocates the output
// with `mm.alloc` and sets `data` and `len`; the caller copies the bytes and
// releases them with `mm.free`. A filled record has `data` and `len` both set
// or both null/zero.
typedef struct KelmAuthDataVec {
  uint8_t* data;
  uint64_t len;
  KelmAuthMmOps mm;
} KelmAuthDataVec;

// Each function returns a one-byte boolean of which only bit 0 counts: set
// means success, whatever the other bits hold. It is declared as a plain
// byte, not as bool, so that no caller assumes the library returns only 0
// or 1.

// The model certificate chain as PEM text: the model template certificate
// (whose subject holds the placeholder AA:BB:CC:DD:EE:FF), then the model's
// intermediate certificates.
KELM_AUTH_API uint8_t KelmAuth_GetModelCertChain(KelmAuthDataVec* cert_chain);

// Generates a device key and, from the template certificate (DER) and the
// SSID text, the device certificate (DER) that carries the SSID where the
// template carries the placeholder. The key comes back wrapped: an opaque
// blob that only this library can use.
KELM_AUTH_API uint8_t KelmAuth_GenerateDeviceKeyAndCert(
    const KelmAuthInputVec* ssid, const KelmAuthInputVec* model_template_cert,
    KelmAuthDataVec* wrapped_device_key, KelmAuthDataVec* device_cert);

// The RSA PKCS#1 v1.5 signature of `input` (a DigestInfo block) with the
// wrapped key.
KELM_AUTH_API uint8_t KelmAuth_SignHash(const KelmAuthInputVec* wrapped_key,
                                        const KelmAuthInputVec* input,
                                        KelmAuthDataVec* signature);

#ifdef __cplusplus
}  // extern "C"
#endif

#ifdef __cplusplus
namespace kelm_auth {

// Whether a filled record is in a valid state: `data` and `len` both set, or
// both null/zero.
bool IsDataVecValid(const KelmAuthDataVec* vec);

// Whether both memory callbacks are set.
bool IsMmOpsValid(const KelmAuthMmOps* mm);

// The `alloc` callback handed to the library: malloc of `size` bytes. A zero
// size or a failed allocation is fatal.
void* AllocateBuffer(size_t size);

// The `free` callback handed to the library. A null pointer is fatal.
void FreeBuffer(void* data);

// Copies the bytes of a filled output record and releases the library's
// buffer with the record's own `free` callback, leaving the record empty.
// An empty record gives the empty string. A record in an invalid state, or a
// filled one without callbacks, is fatal: the library and the tool disagree
// about the interface.
std::string TakeDataVec(KelmAuthDataVec* vec);

// Fetches the model certificate chain (PEM). False when the library fails
// (logged) or returns an empty chain; on a library failure `*cert_chain`
// keeps its content.
bool GetModelCertChain(std::string* cert_chain);

// `*device_cert` goes in holding the template certificate (DER) and comes
// back holding the new device certificate; `*wrapped_device_key` receives
// the wrapped key. True only when the library succeeded and both outputs are
// non-empty; on a library failure both strings keep their content.
bool GenerateDeviceKeyAndCert(const std::string& ssid,
                              std::string* wrapped_device_key,
                              std::string* device_cert);

// Signs `input` with the wrapped key. A signature made earlier for the same
// key and input is answered from the process-wide signature cache without
// calling the library. False when the library fails (logged) or returns an
// empty signature.
bool SignHash(const std::string& wrapped_key, const std::string& input,
              std::string* signature);

}  // namespace kelm_auth
#endif  // __cplusplus

#endif  // INTERNAL_SDK_KELM_CORE_AUTH_KELM_AUTH_C_API_H_
