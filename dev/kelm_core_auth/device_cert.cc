#include "dev/kelm_core_auth/device_cert.h"

#include <openssl/bio.h>
#include <openssl/bytestring.h>
#include <openssl/digest.h>
#include <openssl/evp.h>
#include <openssl/mem.h>
#include <openssl/nid.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstring>
#include <string_view>

#include "dev/kelm_core_auth/dev_pki_data.h"

namespace kelm_auth_dev {
namespace {

constexpr unsigned kExplicitVersionTag =
    CBS_ASN1_CONTEXT_SPECIFIC | CBS_ASN1_CONSTRUCTED | 0;
constexpr unsigned kExtensionsTag =
    CBS_ASN1_CONTEXT_SPECIFIC | CBS_ASN1_CONSTRUCTED | 3;
constexpr unsigned kKeyIdTag = CBS_ASN1_CONTEXT_SPECIFIC | 0;

// OID contents.
constexpr uint8_t kSha256WithRsa[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                      0x0d, 0x01, 0x01, 0x0b};
constexpr uint8_t kBasicConstraints[] = {0x55, 0x1d, 0x13};
constexpr uint8_t kKeyUsage[] = {0x55, 0x1d, 0x0f};
constexpr uint8_t kExtKeyUsage[] = {0x55, 0x1d, 0x25};
constexpr uint8_t kSubjectKeyId[] = {0x55, 0x1d, 0x0e};
constexpr uint8_t kAuthorityKeyId[] = {0x55, 0x1d, 0x23};
constexpr uint8_t kClientAuth[] = {0x2b, 0x06, 0x01, 0x05,
                                   0x05, 0x07, 0x03, 0x02};

// The fields of a TBSCertificate up to the public key, each a whole element
// (header included) so that it can be copied byte for byte.
struct TbsFields {
  CBS version;
  CBS serial;  // Contents only.
  CBS signature;
  CBS issuer;
  CBS validity;
  CBS subject;
  CBS spki;
};

// Splits a DER certificate into its TBSCertificate fields. Only v3
// certificates, which carry the explicit version, are accepted.
bool ParseCertificate(const uint8_t* der, size_t len, TbsFields* fields) {
  CBS in, cert, tbs;
  CBS_init(&in, der, len);
  if (!CBS_get_asn1(&in, &cert, CBS_ASN1_SEQUENCE) || CBS_len(&in) != 0 ||
      !CBS_get_asn1(&cert, &tbs, CBS_ASN1_SEQUENCE)) {
    return false;
  }
  return CBS_get_asn1_element(&tbs, &fields->version, kExplicitVersionTag) &&
         CBS_get_asn1(&tbs, &fields->serial, CBS_ASN1_INTEGER) &&
         CBS_get_asn1_element(&tbs, &fields->signature, CBS_ASN1_SEQUENCE) &&
         CBS_get_asn1_element(&tbs, &fields->issuer, CBS_ASN1_SEQUENCE) &&
         CBS_get_asn1_element(&tbs, &fields->validity, CBS_ASN1_SEQUENCE) &&
         CBS_get_asn1_element(&tbs, &fields->subject, CBS_ASN1_SEQUENCE) &&
         CBS_get_asn1_element(&tbs, &fields->spki, CBS_ASN1_SEQUENCE);
}

// The issuing CA of device certificates, read from the embedded PKI.
struct ModelCa {
  std::string cert_der;
  std::string subject;  // The whole Name element.
  std::string key_id;   // Its subjectKeyIdentifier; empty when it has none.
  bssl::UniquePtr<EVP_PKEY> key;
};

bool LoadModelCa(ModelCa* ca) {
  bssl::UniquePtr<BIO> cert_bio(
      BIO_new_mem_buf(kModelIntermediateCertPem, -1));
  bssl::UniquePtr<BIO> key_bio(BIO_new_mem_buf(kModelIntermediateKeyPem, -1));
  if (!cert_bio || !key_bio) return false;
  bssl::UniquePtr<X509> cert(
      PEM_read_bio_X509(cert_bio.get(), nullptr, nullptr, nullptr));
  ca->key.reset(
      PEM_read_bio_PrivateKey(key_bio.get(), nullptr, nullptr, nullptr));
  if (!cert || !ca->key) return false;

  uint8_t* der = nullptr;
  const int der_len = i2d_X509(cert.get(), &der);
  if (der_len <= 0) return false;
  ca->cert_der.assign(reinterpret_cast<const char*>(der), der_len);
  OPENSSL_free(der);

  TbsFields fields;
  if (!ParseCertificate(reinterpret_cast<const uint8_t*>(ca->cert_der.data()),
                        ca->cert_der.size(), &fields)) {
    return false;
  }
  ca->subject.assign(reinterpret_cast<const char*>(CBS_data(&fields.subject)),
                     CBS_len(&fields.subject));
  ASN1_OCTET_STRING* key_id = static_cast<ASN1_OCTET_STRING*>(
      X509_get_ext_d2i(cert.get(), NID_subject_key_identifier, nullptr,
                       nullptr));
  if (key_id != nullptr) {
    ca->key_id.assign(
        reinterpret_cast<const char*>(ASN1_STRING_get0_data(key_id)),
        ASN1_STRING_length(key_id));
    ASN1_OCTET_STRING_free(key_id);
  }
  return true;
}

bool AddBytes(CBB* cbb, const CBS& element) {
  return CBB_add_bytes(cbb, CBS_data(&element), CBS_len(&element));
}

bool AddOid(CBB* cbb, const uint8_t* oid, size_t len) {
  CBB child;
  return CBB_add_asn1(cbb, &child, CBS_ASN1_OBJECT) &&
         CBB_add_bytes(&child, oid, len) && CBB_flush(cbb);
}

// Adds one Extension whose extnValue holds `value` (a whole DER element).
bool AddExtension(CBB* extensions, const uint8_t* oid, size_t oid_len,
                  bool critical, const std::string& value) {
  CBB extension, octets;
  if (!CBB_add_asn1(extensions, &extension, CBS_ASN1_SEQUENCE) ||
      !AddOid(&extension, oid, oid_len)) {
    return false;
  }
  if (critical) {
    CBB boolean;
    if (!CBB_add_asn1(&extension, &boolean, CBS_ASN1_BOOLEAN) ||
        !CBB_add_u8(&boolean, 0xff)) {
      return false;
    }
  }
  return CBB_add_asn1(&extension, &octets, CBS_ASN1_OCTETSTRING) &&
         CBB_add_bytes(&octets, reinterpret_cast<const uint8_t*>(value.data()),
                       value.size()) &&
         CBB_flush(extensions);
}

// Runs `build` on a fresh CBB and returns what it wrote; empty on failure.
template <typename Build>
std::string BuildDer(Build build) {
  bssl::ScopedCBB cbb;
  if (!CBB_init(cbb.get(), 64) || !build(cbb.get())) return std::string();
  uint8_t* out = nullptr;
  size_t out_len = 0;
  if (!CBB_finish(cbb.get(), &out, &out_len)) return std::string();
  std::string der(reinterpret_cast<const char*>(out), out_len);
  OPENSSL_free(out);
  return der;
}

// The key identifier as the development PKI computes it: the SHA-1 of the
// subjectPublicKey bits, which for RSA are the RSAPublicKey DER.
std::string KeyIdOf(const RSA* key) {
  uint8_t* der = nullptr;
  size_t der_len = 0;
  if (!RSA_public_key_to_bytes(&der, &der_len, key)) return std::string();
  uint8_t digest[SHA_DIGEST_LENGTH];
  SHA1(der, der_len, digest);
  OPENSSL_free(der);
  return std::string(reinterpret_cast<const char*>(digest), sizeof(digest));
}

bool AddDeviceExtensions(CBB* tbs, const RSA* device_key,
                         const std::string& issuer_key_id) {
  const std::string basic_constraints = BuildDer([](CBB* cbb) {
    CBB seq;
    return CBB_add_asn1(cbb, &seq, CBS_ASN1_SEQUENCE) && CBB_flush(cbb);
  });
  const std::string key_usage = BuildDer([](CBB* cbb) {
    // One named bit, digitalSignature (bit 0): seven unused bits.
    CBB bits;
    return CBB_add_asn1(cbb, &bits, CBS_ASN1_BITSTRING) &&
           CBB_add_u8(&bits, 7) && CBB_add_u8(&bits, 0x80) && CBB_flush(cbb);
  });
  const std::string ext_key_usage = BuildDer([](CBB* cbb) {
    CBB seq;
    return CBB_add_asn1(cbb, &seq, CBS_ASN1_SEQUENCE) &&
           AddOid(&seq, kClientAuth, sizeof(kClientAuth)) && CBB_flush(cbb);
  });
  const std::string key_id = KeyIdOf(device_key);
  if (key_id.empty()) return false;
  const std::string subject_key_id = BuildDer([&key_id](CBB* cbb) {
    CBB octets;
    return CBB_add_asn1(cbb, &octets, CBS_ASN1_OCTETSTRING) &&
           CBB_add_bytes(&octets,
                         reinterpret_cast<const uint8_t*>(key_id.data()),
                         key_id.size()) &&
           CBB_flush(cbb);
  });
  const std::string authority_key_id = BuildDer([&issuer_key_id](CBB* cbb) {
    CBB seq, id;
    return CBB_add_asn1(cbb, &seq, CBS_ASN1_SEQUENCE) &&
           CBB_add_asn1(&seq, &id, kKeyIdTag) &&
           CBB_add_bytes(&id,
                         reinterpret_cast<const uint8_t*>(issuer_key_id.data()),
                         issuer_key_id.size()) &&
           CBB_flush(cbb);
  });
  if (basic_constraints.empty() || key_usage.empty() ||
      ext_key_usage.empty() || subject_key_id.empty() ||
      authority_key_id.empty()) {
    return false;
  }

  CBB outer, extensions;
  if (!CBB_add_asn1(tbs, &outer, kExtensionsTag) ||
      !CBB_add_asn1(&outer, &extensions, CBS_ASN1_SEQUENCE) ||
      !AddExtension(&extensions, kBasicConstraints, sizeof(kBasicConstraints),
                    /*critical=*/true, basic_constraints) ||
      !AddExtension(&extensions, kKeyUsage, sizeof(kKeyUsage),
                    /*critical=*/true, key_usage) ||
      !AddExtension(&extensions, kExtKeyUsage, sizeof(kExtKeyUsage),
                    /*critical=*/false, ext_key_usage) ||
      !AddExtension(&extensions, kSubjectKeyId, sizeof(kSubjectKeyId),
                    /*critical=*/false, subject_key_id)) {
    return false;
  }
  if (!issuer_key_id.empty() &&
      !AddExtension(&extensions, kAuthorityKeyId, sizeof(kAuthorityKeyId),
                    /*critical=*/false, authority_key_id)) {
    return false;
  }
  return CBB_flush(tbs);
}

bool AddSha256WithRsa(CBB* cbb) {
  CBB algorithm, params;
  return CBB_add_asn1(cbb, &algorithm, CBS_ASN1_SEQUENCE) &&
         AddOid(&algorithm, kSha256WithRsa, sizeof(kSha256WithRsa)) &&
         CBB_add_asn1(&algorithm, &params, CBS_ASN1_NULL) && CBB_flush(cbb);
}

// A positive INTEGER content of exactly `len` bytes: the first byte is 1 to
// 127, so the encoding needs no leading zero and is never shorter.
bool AddRandomSerial(CBB* tbs, size_t len) {
  std::string serial(len, '\0');
  uint8_t* bytes = reinterpret_cast<uint8_t*>(serial.data());
  if (!RAND_bytes(bytes, len)) return false;
  bytes[0] = static_cast<uint8_t>(1 + bytes[0] % 127);
  CBB integer;
  return CBB_add_asn1(tbs, &integer, CBS_ASN1_INTEGER) &&
         CBB_add_bytes(&integer, bytes, len) && CBB_flush(tbs);
}

std::string SignTbs(const std::string& tbs, EVP_PKEY* key) {
  bssl::ScopedEVP_MD_CTX ctx;
  size_t sig_len = 0;
  if (!EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) ||
      !EVP_DigestSign(ctx.get(), nullptr, &sig_len,
                      reinterpret_cast<const uint8_t*>(tbs.data()),
                      tbs.size())) {
    return std::string();
  }
  std::string sig(sig_len, '\0');
  if (!EVP_DigestSign(ctx.get(), reinterpret_cast<uint8_t*>(sig.data()),
                      &sig_len, reinterpret_cast<const uint8_t*>(tbs.data()),
                      tbs.size())) {
    return std::string();
  }
  sig.resize(sig_len);
  return sig;
}

}  // namespace

bool IsUsableSsid(const uint8_t* ssid, size_t len) {
  if (ssid == nullptr || len != kSsidLength) return false;
  constexpr std::string_view kPrintableExtra = " '()+,-./:=?";
  for (size_t i = 0; i < len; ++i) {
    const char c = static_cast<char>(ssid[i]);
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       (c >= '0' && c <= '9');
    if (!alnum && kPrintableExtra.find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

std::string MakeDeviceCert(const uint8_t* template_der, size_t template_len,
                           const uint8_t* ssid, size_t ssid_len,
                           const RSA* device_key) {
  if (template_der == nullptr || !IsUsableSsid(ssid, ssid_len)) {
    return std::string();
  }
  ModelCa ca;
  TbsFields fields;
  if (!LoadModelCa(&ca) ||
      !ParseCertificate(template_der, template_len, &fields)) {
    return std::string();
  }
  const size_t serial_len = CBS_len(&fields.serial);
  if (serial_len == 0 || serial_len > 20) return std::string();
  const std::string_view issuer(
      reinterpret_cast<const char*>(CBS_data(&fields.issuer)),
      CBS_len(&fields.issuer));
  if (issuer != ca.subject) return std::string();

  std::string subject(reinterpret_cast<const char*>(CBS_data(&fields.subject)),
                      CBS_len(&fields.subject));
  const size_t in_subject = subject.find(kSsidPlaceholder);
  if (in_subject == std::string::npos) return std::string();
  subject.replace(in_subject, kSsidLength, reinterpret_cast<const char*>(ssid),
                  kSsidLength);
  const size_t placeholder_offset =
      static_cast<size_t>(CBS_data(&fields.subject) - template_der) +
      in_subject;

  bssl::UniquePtr<EVP_PKEY> public_key(EVP_PKEY_new());
  bssl::UniquePtr<RSA> public_rsa(RSAPublicKey_dup(device_key));
  if (!public_key || !public_rsa ||
      !EVP_PKEY_set1_RSA(public_key.get(), public_rsa.get())) {
    return std::string();
  }

  const std::string tbs = BuildDer([&](CBB* cbb) {
    CBB body;
    return CBB_add_asn1(cbb, &body, CBS_ASN1_SEQUENCE) &&
           AddBytes(&body, fields.version) &&
           AddRandomSerial(&body, serial_len) && AddSha256WithRsa(&body) &&
           AddBytes(&body, fields.issuer) && AddBytes(&body, fields.validity) &&
           CBB_add_bytes(&body,
                         reinterpret_cast<const uint8_t*>(subject.data()),
                         subject.size()) &&
           EVP_marshal_public_key(&body, public_key.get()) &&
           AddDeviceExtensions(&body, device_key, ca.key_id) && CBB_flush(cbb);
  });
  if (tbs.empty()) return std::string();
  const std::string signature = SignTbs(tbs, ca.key.get());
  if (signature.empty()) return std::string();

  const std::string cert = BuildDer([&](CBB* cbb) {
    CBB body, bits;
    return CBB_add_asn1(cbb, &body, CBS_ASN1_SEQUENCE) &&
           CBB_add_bytes(&body, reinterpret_cast<const uint8_t*>(tbs.data()),
                         tbs.size()) &&
           AddSha256WithRsa(&body) &&
           CBB_add_asn1(&body, &bits, CBS_ASN1_BITSTRING) &&
           CBB_add_u8(&bits, 0) &&
           CBB_add_bytes(&bits,
                         reinterpret_cast<const uint8_t*>(signature.data()),
                         signature.size()) &&
           CBB_flush(cbb);
  });
  // The tool checks the SSID at the placeholder's offset; a template whose
  // headers change length in the device certificate would break that, so
  // such a certificate is not handed out.
  if (cert.size() < placeholder_offset + kSsidLength ||
      memcmp(cert.data() + placeholder_offset, ssid, kSsidLength) != 0) {
    return std::string();
  }
  return cert;
}

std::string ModelCertChainPem() {
  return std::string(kModelTemplateCertPem) + kModelIntermediateCertPem;
}

}  // namespace kelm_auth_dev
