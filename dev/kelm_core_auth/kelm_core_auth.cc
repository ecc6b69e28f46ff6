// The development build of the platform authentication library
// libkelm_core_auth.so. The device's own library keeps its keys in hardware;
// this one keeps a development wrapping key and the development model CA
// (dev/pki) inside itself, and otherwise keeps the same contract: the model
// chain as PEM, a fresh RSA-2048 device key per generation that leaves only
// wrapped, a device certificate that chains to the first built-in root, and
// PKCS#1 v1.5 signatures with the wrapped key.
//
// Only the three KelmAuth_* functions are exported (kelm_core_auth.map).
// Every call runs under one library-wide lock, so calls from several threads
// are safe and run one at a time. No output buffer is allocated on a path
// that returns false.

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec_key.h>
#include <openssl/nid.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>

#include "dev/kelm_core_auth/dev_controls.h"
#include "dev/kelm_core_auth/dev_pki_data.h"
#include "dev/kelm_core_auth/device_cert.h"
#include "dev/kelm_core_auth/key_wrapping.h"
#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

namespace kelm_auth_dev {
namespace {

std::mutex& LibraryLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

bool IsInputUsable(const KelmAuthInputVec* in) {
  return in != nullptr && in->data != nullptr;
}

// An output record must come in empty with both callbacks, or the library
// could neither fill it without leaking nor hand back a buffer the caller
// can release.
bool IsOutputUsable(const KelmAuthDataVec* out) {
  return out != nullptr && out->data == nullptr && out->len == 0 &&
         out->mm.alloc != nullptr && out->mm.free != nullptr;
}

// Fills `out` with a copy of `bytes` from the caller's allocator. An empty
// string leaves the record empty.
bool Fill(KelmAuthDataVec* out, const std::string& bytes) {
  if (bytes.empty()) return true;
  void* buffer = out->mm.alloc(bytes.size());
  if (buffer == nullptr) return false;
  memcpy(buffer, bytes.data(), bytes.size());
  out->data = static_cast<uint8_t*>(buffer);
  out->len = bytes.size();
  return true;
}

// Undoes Fill on a path that ends up returning false.
void Release(KelmAuthDataVec* out) {
  if (out->data == nullptr) return;
  out->mm.free(out->data);
  out->data = nullptr;
  out->len = 0;
}

// Two PEM blocks of a throwaway EC key. The PEM reader puts the first into
// the entry of the certificate before it and the second into an entry of its
// own, so the chain shows both ways a key can appear to its reader. Empty on
// failure.
std::string ThrowawayKeyBlocks() {
  bssl::UniquePtr<EC_KEY> key(EC_KEY_new_by_curve_name(NID_X9_62_prime256v1));
  bssl::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  if (!key || !bio || !EC_KEY_generate_key(key.get())) return std::string();
  for (int i = 0; i < 2; ++i) {
    if (!PEM_write_bio_ECPrivateKey(bio.get(), key.get(), nullptr, nullptr, 0,
                                    nullptr, nullptr)) {
      return std::string();
    }
  }
  const uint8_t* contents = nullptr;
  size_t len = 0;
  if (!BIO_mem_contents(bio.get(), &contents, &len)) return std::string();
  return std::string(reinterpret_cast<const char*>(contents), len);
}

// The model chain with the last character of the template's placeholder
// made a G, so that the template no longer holds the placeholder (nor
// matches its own signature, which no caller checks). Empty on failure.
std::string ChainWithoutPlaceholder() {
  bssl::UniquePtr<BIO> in(BIO_new_mem_buf(kModelTemplateCertPem, -1));
  bssl::UniquePtr<X509> original(
      in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
  uint8_t* der = nullptr;
  const int der_len = original ? i2d_X509(original.get(), &der) : -1;
  if (der_len < 0) return std::string();
  std::string bytes(reinterpret_cast<const char*>(der),
                    static_cast<size_t>(der_len));
  OPENSSL_free(der);
  const size_t at = bytes.find(kSsidPlaceholder);
  if (at == std::string::npos) return std::string();
  bytes[at + kSsidLength - 1] = 'G';
  const uint8_t* cursor = reinterpret_cast<const uint8_t*>(bytes.data());
  bssl::UniquePtr<X509> changed(
      d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size())));
  bssl::UniquePtr<BIO> out(BIO_new(BIO_s_mem()));
  const uint8_t* contents = nullptr;
  size_t len = 0;
  if (!changed || !out || !PEM_write_bio_X509(out.get(), changed.get()) ||
      !BIO_mem_contents(out.get(), &contents, &len)) {
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(contents), len) +
         kModelIntermediateCertPem;
}

std::string ModelChainFor(Behaviour behaviour) {
  switch (behaviour) {
    case Behaviour::kTemplateOnly:
      return kModelTemplateCertPem;
    case Behaviour::kGarbage:
      return "This text holds no certificate.\n";
    case Behaviour::kWithKey: {
      const std::string keys = ThrowawayKeyBlocks();
      if (keys.empty()) return std::string();
      return ModelCertChainPem() + keys;
    }
    case Behaviour::kNoPlaceholder:
      return ChainWithoutPlaceholder();
    default:
      return ModelCertChainPem();
  }
}

bssl::UniquePtr<RSA> GenerateRsa2048() {
  bssl::UniquePtr<RSA> key(RSA_new());
  bssl::UniquePtr<BIGNUM> exponent(BN_new());
  if (!key || !exponent || !BN_set_word(exponent.get(), RSA_F4) ||
      !RSA_generate_key_ex(key.get(), 2048, exponent.get(), nullptr)) {
    return nullptr;
  }
  return key;
}

// The result byte of a call that did (`ok`) or did not succeed, under the
// result control; see ResultByte().
uint8_t ResultOf(int control, bool ok) {
  if (!ok) return 0;
  return control < 0 ? 1 : static_cast<uint8_t>(control);
}

// Whether the result control makes the call fail before doing anything.
bool FailsAtOnce(int control) { return control >= 0 && (control & 1) == 0; }

bool GetModelCertChain(KelmAuthDataVec* cert_chain) {
  if (!IsOutputUsable(cert_chain)) return false;
  const Behaviour behaviour = ModelChainBehaviour();
  if (behaviour == Behaviour::kFail) return false;
  if (behaviour == Behaviour::kEmpty) return true;
  const std::string chain = ModelChainFor(behaviour);
  if (chain.empty()) return false;
  return Fill(cert_chain, chain);
}

bool GenerateDeviceKeyAndCert(const KelmAuthInputVec* ssid,
                              const KelmAuthInputVec* model_template_cert,
                              KelmAuthDataVec* wrapped_device_key,
                              KelmAuthDataVec* device_cert) {
  if (!IsInputUsable(ssid) ||
      !IsInputUsable(model_template_cert) ||
      !IsOutputUsable(wrapped_device_key) ||
      !IsOutputUsable(device_cert) ||
      wrapped_device_key == device_cert) {
    return false;
  }
  const Behaviour behaviour = GenerateBehaviour();
  if (behaviour == Behaviour::kFail) return false;
  if (behaviour == Behaviour::kEmpty) return true;

  bssl::UniquePtr<RSA> key = GenerateRsa2048();
  if (!key) return false;
  const std::string wrapped = WrapPrivateKey(key.get());
  std::string cert = MakeDeviceCert(
      model_template_cert->data, model_template_cert->len, ssid->data,
      ssid->len, key.get());
  if (wrapped.empty() || cert.empty()) return false;
  if (behaviour == Behaviour::kKeyOnly) cert.clear();
  if (behaviour == Behaviour::kGarbageCert) cert = "not a DER certificate";

  if (!Fill(wrapped_device_key, wrapped)) return false;
  if (!Fill(device_cert, cert)) {
    Release(wrapped_device_key);
    return false;
  }
  return true;
}

bool SignHash(const KelmAuthInputVec* wrapped_key,
              const KelmAuthInputVec* input, KelmAuthDataVec* signature) {
  if (!IsInputUsable(wrapped_key) ||
      !IsInputUsable(input) ||
      !IsOutputUsable(signature)) {
    return false;
  }
  const Behaviour behaviour = SignBehaviour();
  if (behaviour == Behaviour::kFail) return false;
  if (behaviour == Behaviour::kEmpty) return true;
  // A library stuck in its secure hardware: the call never returns, and it
  // keeps holding the library's lock, as a real one would.
  if (behaviour == Behaviour::kHang) {
    for (;;) pause();
  }

  bssl::UniquePtr<RSA> key =
      UnwrapPrivateKey(wrapped_key->data, wrapped_key->len);
  if (!key) return false;
  // PKCS#1 type-1 padding needs 11 bytes of the modulus for itself.
  const size_t modulus_len = RSA_size(key.get());
  if (input->len > modulus_len - 11) return false;
  std::string out(modulus_len, '\0');
  size_t out_len = 0;
  if (!RSA_sign_raw(key.get(), &out_len, reinterpret_cast<uint8_t*>(out.data()),
                    out.size(), input->data, input->len, RSA_PKCS1_PADDING)) {
    return false;
  }
  out.resize(out_len);
  if (behaviour == Behaviour::kCorrupt) out.back() ^= 0x01;
  return Fill(signature, out);
}

}  // namespace
}  // namespace kelm_auth_dev

extern "C" uint8_t KelmAuth_GetModelCertChain(KelmAuthDataVec* cert_chain) {
  std::lock_guard<std::mutex> hold(kelm_auth_dev::LibraryLock());
  if (!kelm_auth_dev::RecordCall("KelmAuth_GetModelCertChain")) return 0;
  const int control = kelm_auth_dev::ResultByte();
  if (kelm_auth_dev::FailsAtOnce(control)) return static_cast<uint8_t>(control);
  return kelm_auth_dev::ResultOf(control,
                                 kelm_auth_dev::GetModelCertChain(cert_chain));
}

extern "C" uint8_t KelmAuth_GenerateDeviceKeyAndCert(
    const KelmAuthInputVec* ssid, const KelmAuthInputVec* model_template_cert,
    KelmAuthDataVec* wrapped_device_key, KelmAuthDataVec* device_cert) {
  std::lock_guard<std::mutex> hold(kelm_auth_dev::LibraryLock());
  if (!kelm_auth_dev::RecordCall("KelmAuth_GenerateDeviceKeyAndCert")) return 0;
  const int control = kelm_auth_dev::ResultByte();
  if (kelm_auth_dev::FailsAtOnce(control)) return static_cast<uint8_t>(control);
  return kelm_auth_dev::ResultOf(
      control, kelm_auth_dev::GenerateDeviceKeyAndCert(
                   ssid, model_template_cert, wrapped_device_key, device_cert));
}

extern "C" uint8_t KelmAuth_SignHash(const KelmAuthInputVec* wrapped_key,
                                     const KelmAuthInputVec* input,
                                     KelmAuthDataVec* signature) {
  std::lock_guard<std::mutex> hold(kelm_auth_dev::LibraryLock());
  if (!kelm_auth_dev::RecordCall("KelmAuth_SignHash")) return 0;
  const int control = kelm_auth_dev::ResultByte();
  if (kelm_auth_dev::FailsAtOnce(control)) return static_cast<uint8_t>(control);
  return kelm_auth_dev::ResultOf(
      control, kelm_auth_dev::SignHash(wrapped_key, input, signature));
}
