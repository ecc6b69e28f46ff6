#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

#include <cstdlib>

#include "internal/sdk/kelm_core/auth/signature_cache.h"
#include "logging/check.h"
#include "logging/log.h"

namespace kelm_auth {
namespace {

// An output record as the library expects it: empty, with our callbacks.
KelmAuthDataVec EmptyDataVec() {
  return KelmAuthDataVec{nullptr, 0, {&AllocateBuffer, &FreeBuffer}};
}

KelmAuthInputVec InputVecOf(const std::string& bytes) {
  return KelmAuthInputVec{reinterpret_cast<const uint8_t*>(bytes.data()),
                          bytes.size()};
}

// Only bit 0 of the library's result byte tells success.
bool Succeeded(uint8_t result) { return (result & 1) != 0; }

void CheckDataVecValid(const KelmAuthDataVec& vec) {
  CHECK(IsDataVecValid(&vec));
}

}  // namespace

bool IsDataVecValid(const KelmAuthDataVec* vec) {
  return (vec->data != nullptr) == (vec->len != 0);
}

bool IsMmOpsValid(const KelmAuthMmOps* mm) {
  return mm->alloc != nullptr && mm->free != nullptr;
}

void* AllocateBuffer(size_t size) {
  CHECK(size);
  void* data = malloc(size);
  if (data == nullptr) {
    LOG(ERROR) << "Allocation of " << size << " bytes failed.";
  }
  CHECK(data != nullptr);
  return data;
}

void FreeBuffer(void* data) {
  CHECK(data);
  free(data);
}

std::string TakeDataVec(KelmAuthDataVec* vec) {
  if (vec->data == nullptr && vec->len == 0) return std::string();
  if (vec->data != nullptr && vec->len > 0) {
    std::string bytes(reinterpret_cast<const char*>(vec->data), vec->len);
    CHECK(IsMmOpsValid(&vec->mm));
    vec->mm.free(vec->data);
    vec->data = nullptr;
    vec->len = 0;
    return bytes;
  }
  CheckDataVecValid(*vec);
  return std::string();
}

bool GetModelCertChain(std::string* cert_chain) {
  CHECK(cert_chain != nullptr);
  KelmAuthDataVec chain = EmptyDataVec();
  if (KelmAuth_GetModelCertChain == nullptr ||
      !Succeeded(KelmAuth_GetModelCertChain(&chain))) {
    LOG(ERROR) << "KelmAuth_GetModelCertChain() returned error.";
    return false;
  }
  *cert_chain = TakeDataVec(&chain);
  return !cert_chain->empty();
}

bool GenerateDeviceKeyAndCert(const std::string& ssid,
                              std::string* wrapped_device_key,
                              std::string* device_cert) {
  CHECK(wrapped_device_key != nullptr);
  CHECK(device_cert != nullptr);
  const KelmAuthInputVec ssid_vec = InputVecOf(ssid);
  const KelmAuthInputVec template_vec = InputVecOf(*device_cert);
  KelmAuthDataVec key = EmptyDataVec();
  KelmAuthDataVec cert = EmptyDataVec();
  if (KelmAuth_GenerateDeviceKeyAndCert == nullptr ||
      !Succeeded(KelmAuth_GenerateDeviceKeyAndCert(&ssid_vec, &template_vec,
                                                   &key, &cert))) {
    LOG(ERROR) << "KelmAuth_GenerateDeviceKeyAndCert() returned error.";
    return false;
  }
  *wrapped_device_key = TakeDataVec(&key);
  *device_cert = TakeDataVec(&cert);
  return !wrapped_device_key->empty() && !device_cert->empty();
}

bool SignHash(const std::string& wrapped_key, const std::string& input,
              std::string* signature) {
  CHECK(signature != nullptr);
  *signature = GetSignatureCache().Get(wrapped_key, input);
  if (!signature->empty()) return true;

  const KelmAuthInputVec key_vec = InputVecOf(wrapped_key);
  const KelmAuthInputVec input_vec = InputVecOf(input);
  KelmAuthDataVec out = EmptyDataVec();
  // The library call runs outside the cache's lock.
  if (KelmAuth_SignHash == nullptr ||
      !Succeeded(KelmAuth_SignHash(&key_vec, &input_vec, &out))) {
    LOG(ERROR) << "KelmAuth_SignHash() returned error.";
    return false;
  }
  *signature = TakeDataVec(&out);
  if (signature->empty()) return false;
  GetSignatureCache().Put(wrapped_key, input, *signature);
  return true;
}

}  // namespace kelm_auth
