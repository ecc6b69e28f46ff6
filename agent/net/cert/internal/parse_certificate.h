#ifndef AGENT_NET_CERT_INTERNAL_PARSE_CERTIFICATE_H_
#define AGENT_NET_CERT_INTERNAL_PARSE_CERTIFICATE_H_

// Parsers of an X.509 certificate's outer structure, its TBSCertificate and
// the small extensions (basicConstraints, keyUsage, authorityInfoAccess and
// the key identifiers), as RFC 5280 section 4 lays them out.
//
// Every result is a view into the bytes given to the parser, which must
// outlive it. Parsers that take a CertErrors list append why they failed
// (a null list stands for a private one that is thrown away); the others
// only return false. No shared state; any thread may call anything.

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "agent/net/der/generalized_time.h"
#include "agent/net/der/input.h"
#include "agent/net/der/parse_values.h"

namespace net {

class CertErrors;

struct ParseCertificateOptions {
  // Whether a serial number that is not a valid INTEGER or is longer than
  // 20 octets is only a warning (and the parse goes on) instead of an error.
  bool allow_invalid_serial_numbers = false;
};

// The fields of a TBSCertificate. The *_tlv fields are whole elements (tag,
// length and value).
struct ParsedTbsCertificate {
  ParsedTbsCertificate();
  ParsedTbsCertificate(const ParsedTbsCertificate&);
  ParsedTbsCertificate& operator=(const ParsedTbsCertificate&);
  ~ParsedTbsCertificate();

  // 0 for v1, 1 for v2, 2 for v3.
  int version = 0;
  // The INTEGER's value bytes exactly as encoded.
  der::Input serial_number;
  der::Input signature_algorithm_tlv;
  der::Input issuer_tlv;
  der::GeneralizedTime validity_not_before;
  der::GeneralizedTime validity_not_after;
  der::Input subject_tlv;
  der::Input spki_tlv;
  bool has_issuer_unique_id = false;
  der::BitString issuer_unique_id;
  bool has_subject_unique_id = false;
  der::BitString subject_unique_id;
  bool has_extensions = false;
  // The whole extensions SEQUENCE (inside the [3] wrapper).
  der::Input extensions_tlv;
};

struct ParsedExtension {
  // The OID's value bytes.
  der::Input oid;
  // The contents of the extnValue OCTET STRING.
  der::Input value;
  bool critical = false;
};

struct ParsedBasicConstraints {
  bool is_ca = false;
  bool has_path_len = false;
  // 0 when absent.
  uint8_t path_len = 0;
};

struct ParsedAuthorityKeyIdentifier {
  ParsedAuthorityKeyIdentifier();
  ParsedAuthorityKeyIdentifier(const ParsedAuthorityKeyIdentifier&);
  ParsedAuthorityKeyIdentifier& operator=(const ParsedAuthorityKeyIdentifier&);
  ~ParsedAuthorityKeyIdentifier();

  // Each the value of its element.
  std::optional<der::Input> key_identifier;
  std::optional<der::Input> authority_cert_issuer;
  std::optional<der::Input> authority_cert_serial_number;
};

// Value bytes of the extension and access-method OIDs read here.
der::Input SubjectKeyIdentifierOid();    // 2.5.29.14
der::Input KeyUsageOid();                // 2.5.29.15
der::Input SubjectAltNameOid();          // 2.5.29.17
der::Input BasicConstraintsOid();        // 2.5.29.19
der::Input NameConstraintsOid();         // 2.5.29.30
der::Input CertificatePoliciesOid();     // 2.5.29.32
der::Input AuthorityKeyIdentifierOid();  // 2.5.29.35
der::Input PolicyConstraintsOid();       // 2.5.29.36
der::Input ExtKeyUsageOid();             // 2.5.29.37
der::Input AuthorityInfoAccessOid();     // 1.3.6.1.5.5.7.1.1
der::Input AdCaIssuersOid();             // 1.3.6.1.5.5.7.48.2
der::Input AdOcspOid();                  // 1.3.6.1.5.5.7.48.1

// keyUsage bit numbers (RFC 5280 4.2.1.3).
enum KeyUsageBit {
  KEY_USAGE_BIT_DIGITAL_SIGNATURE = 0,
  KEY_USAGE_BIT_NON_REPUDIATION = 1,
  KEY_USAGE_BIT_KEY_ENCIPHERMENT = 2,
  KEY_USAGE_BIT_DATA_ENCIPHERMENT = 3,
  KEY_USAGE_BIT_KEY_AGREEMENT = 4,
  KEY_USAGE_BIT_KEY_CERT_SIGN = 5,
  KEY_USAGE_BIT_CRL_SIGN = 6,
  KEY_USAGE_BIT_ENCIPHER_ONLY = 7,
  KEY_USAGE_BIT_DECIPHER_ONLY = 8,
};

// Splits a Certificate into its three parts: the TBSCertificate and the
// signatureAlgorithm (whole elements, each one SEQUENCE) and the signature
// value. Nothing may follow inside or after the Certificate SEQUENCE.
[[nodiscard]] bool ParseCertificate(const der::Input& certificate_tlv,
                                    der::Input* out_tbs_certificate_tlv,
                                    der::Input* out_signature_algorithm_tlv,
                                    der::BitString* out_signature_value,
                                    CertErrors* out_errors);

// Reads a TBSCertificate (RFC 5280 4.1). The version must be omitted for v1
// and be 1 or 2 otherwise; unique ids need v2 or v3, extensions v3. The
// serial number is checked by ParseSerialNumber, whose failure ends the
// parse only when `options` do not allow invalid serial numbers. Bytes after
// the TBSCertificate fail the parse without an error entry.
[[nodiscard]] bool ParseTbsCertificate(const der::Input& tbs_tlv,
                                       const ParseCertificateOptions& options,
                                       ParsedTbsCertificate* out,
                                       CertErrors* errors);

// Checks a serial number's INTEGER value: it must be a valid INTEGER of at
// most 20 octets (counting a leading zero octet). Negative and zero values
// only add warnings. Failures are errors, or warnings when
// `warnings_only` is set; the result is false either way.
[[nodiscard]] bool ParseSerialNumber(const der::Input& value,
                                     bool warnings_only,
                                     CertErrors* errors);

// Reads a Validity SEQUENCE of two times, each a UTCTime or a
// GeneralizedTime. Their order is not checked.
[[nodiscard]] bool ParseValidity(const der::Input& validity_tlv,
                                 der::GeneralizedTime* not_before,
                                 der::GeneralizedTime* not_after);

// Reads one Extension. An encoded critical flag of false is refused (DER
// leaves a default value out).
[[nodiscard]] bool ParseExtension(const der::Input& extension_tlv,
                                  ParsedExtension* out);

// Reads a non-empty Extensions SEQUENCE into `extensions` (cleared first),
// keyed by OID; an OID seen twice fails.
[[nodiscard]] bool ParseExtensions(
    const der::Input& extensions_tlv,
    std::map<der::Input, ParsedExtension>* extensions);

// Reads a basicConstraints value. An encoded cA of false is accepted.
[[nodiscard]] bool ParseBasicConstraints(const der::Input& basic_constraints_tlv,
                                         ParsedBasicConstraints* out);

// Reads a keyUsage value: one BIT STRING with at least one bit set.
[[nodiscard]] bool ParseKeyUsage(const der::Input& key_usage_tlv,
                                 der::BitString* key_usage);

// Reads an authorityInfoAccess value and collects the ASCII URIs of its
// caIssuers and OCSP entries (both lists cleared first). Other access
// methods and locations of other forms are skipped; a URI that is not ASCII
// fails.
[[nodiscard]] bool ParseAuthorityInfoAccess(
    const der::Input& authority_info_access_tlv,
    std::vector<std::string_view>* out_ca_issuers_uris,
    std::vector<std::string_view>* out_ocsp_uris);

// Reads a subjectKeyIdentifier value: one OCTET STRING, possibly empty.
[[nodiscard]] bool ParseKeyIdentifier(const der::Input& input,
                                      der::Input* key_identifier);

// Reads an authorityKeyIdentifier value. authorityCertIssuer and
// authorityCertSerialNumber must come together or not at all.
[[nodiscard]] bool ParseAuthorityKeyIdentifier(
    const der::Input& authority_key_identifier_tlv,
    ParsedAuthorityKeyIdentifier* out);

// The contents of `tlv`, which must be exactly one SEQUENCE.
[[nodiscard]] bool ReadSequenceContents(const der::Input& tlv,
                                        der::Input* contents);

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_PARSE_CERTIFICATE_H_
