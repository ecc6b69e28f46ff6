#ifndef DEV_KELM_CORE_AUTH_DEVICE_CERT_H_
#define DEV_KELM_CORE_AUTH_DEVICE_CERT_H_

#include <openssl/base.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelm_auth_dev {

// The text that the model template certificate carries in its subject and
// that each device certificate replaces with the device's SSID.
inline constexpr char kSsidPlaceholder[] = "AA:BB:CC:DD:EE:FF";
inline constexpr size_t kSsidLength = sizeof(kSsidPlaceholder) - 1;

// Whether `ssid` can stand in the subject in place of the placeholder: as
// long as the placeholder, and only characters that every X.509 string type
// of a name can hold (the PrintableString set).
bool IsUsableSsid(const uint8_t* ssid, size_t len);

// Makes the device certificate (DER) from the template (DER): the template's
// version, issuer, validity and subject, with the SSID written over the
// placeholder in the subject; `device_key`'s public key; a fresh random
// serial number of the template's serial length; keyUsage digitalSignature,
// extendedKeyUsage clientAuth, subject and authority key identifiers; signed
// with SHA-256 by the model intermediate CA. Everything before the
// placeholder keeps its length, so the SSID lies at the placeholder's byte
// offset. The template must be issued by the model intermediate CA and hold
// the placeholder in its subject. Empty on any failure.
std::string MakeDeviceCert(const uint8_t* template_der, size_t template_len,
                           const uint8_t* ssid, size_t ssid_len,
                           const RSA* device_key);

// The model chain as PEM: the template certificate, then the intermediate.
std::string ModelCertChainPem();

}  // namespace kelm_auth_dev

#endif  // DEV_KELM_CORE_AUTH_DEVICE_CERT_H_
