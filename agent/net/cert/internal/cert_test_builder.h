#ifndef AGENT_NET_CERT_INTERNAL_CERT_TEST_BUILDER_H_
#define AGENT_NET_CERT_INTERNAL_CERT_TEST_BUILDER_H_

// Tests' certificates written field by field, for the shapes that the
// openssl command line will not write. The signature is never valid: these
// exercise parsing only. Test code only.

#include <string>

#include "agent/net/cert/internal/der_test_builder.h"
#include "agent/net/cert/internal/parse_name.h"

namespace net::test {

// sha256WithRSAEncryption with NULL parameters.
inline std::string Sha256WithRsaTlv() {
  return Sequence(Oid(Hex("2A864886F70D01010B")) + Hex("0500"));
}

// A Name of one commonName in a UTF8String.
inline std::string CommonNameTlv(std::string_view common_name) {
  return Sequence(
      Set(Attribute(TypeCommonNameOid(), der::kUtf8String, common_name)));
}

// One Extension: OID bytes, criticality (encoded only when true) and value.
inline std::string ExtensionTlv(std::string_view oid_bytes,
                                bool critical,
                                std::string_view value) {
  return Sequence(Oid(oid_bytes) +
                  (critical ? Tlv(der::kBool, Hex("FF")) : std::string()) +
                  Tlv(der::kOctetString, value));
}

// The fields of a TBSCertificate, each a whole element ("" leaves it out).
// Defaults make a valid v3 certificate without extensions.
struct TbsFields {
  std::string version = Tlv(der::ContextSpecificConstructed(0),
                            Tlv(der::kInteger, Hex("02")));
  std::string serial = Tlv(der::kInteger, Hex("01"));
  std::string signature = Sha256WithRsaTlv();
  std::string issuer = CommonNameTlv("Issuer");
  std::string validity = Sequence(Tlv(der::kUtcTime, "200101000000Z") +
                                  Tlv(der::kGeneralizedTime, "20400101000000Z"));
  std::string subject = CommonNameTlv("Subject");
  // rsaEncryption with a placeholder key: parsing never reads the key.
  std::string spki = Sequence(Sequence(Oid(Hex("2A864886F70D010101")) +
                                       Hex("0500")) +
                              Tlv(der::kBitString, Hex("00 3000")));
  std::string issuer_unique_id;
  std::string subject_unique_id;
  // The contents of the Extensions SEQUENCE; "" for none.
  std::string extensions;
  // Bytes appended inside the TBSCertificate after everything else.
  std::string trailing;

  std::string Build() const {
    std::string body = version + serial + signature + issuer + validity +
                       subject + spki + issuer_unique_id + subject_unique_id;
    if (!extensions.empty()) {
      body += Tlv(der::ContextSpecificConstructed(3), Sequence(extensions));
    }
    return Sequence(body + trailing);
  }
};

// A Certificate over `tbs` with `algorithm` and a dummy signature.
inline std::string CertificateTlv(const std::string& tbs,
                                  const std::string& algorithm =
                                      Sha256WithRsaTlv()) {
  return Sequence(tbs + algorithm + Tlv(der::kBitString, Hex("00 01020304")));
}

}  // namespace net::test

#endif  // AGENT_NET_CERT_INTERNAL_CERT_TEST_BUILDER_H_
