#include "agent/net/cert/internal/parse_certificate.h"

#include <utility>

#include "agent/net/cert/cert_error_params.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"

namespace net {

namespace {

const char kFailedParsingCertificateSequence[] =
    "Failed parsing Certificate SEQUENCE";
const char kFailedReadingTbsCertificate[] =
    "Couldn't read tbsCertificate as SEQUENCE";
const char kFailedReadingSignatureAlgorithm[] =
    "Couldn't read Certificate.signatureAlgorithm as SEQUENCE";
const char kFailedReadingSignatureValue[] =
    "Couldn't read Certificate.signatureValue as BIT STRING";
const char kUnconsumedDataInsideCertificate[] =
    "Unconsumed data inside Certificate SEQUENCE";
const char kUnconsumedDataAfterCertificate[] =
    "Unconsumed data after Certificate SEQUENCE";

const char kFailedParsingTbsSequence[] = "Failed parsing TBSCertificate SEQUENCE";
const char kFailedReadingVersion[] = "Failed reading version";
const char kFailedParsingVersion[] = "Failed parsing version";
const char kVersionExplicitlyV1[] = "Version explicitly V1 (should be omitted)";
const char kFailedReadingSerialNumber[] = "Failed reading serialNumber";
const char kFailedReadingSignature[] = "Failed reading signature";
const char kFailedReadingIssuer[] = "Failed reading issuer";
const char kFailedReadingValidity[] = "Failed reading validity";
const char kFailedParsingValidity[] = "Failed parsing validity";
const char kFailedReadingSubject[] = "Failed reading subject";
const char kFailedReadingSpki[] = "Failed reading subjectPublicKeyInfo";
const char kFailedReadingIssuerUniqueId[] = "Failed reading issuerUniqueId";
const char kFailedParsingIssuerUniqueId[] = "Failed parsing issuerUniqueId";
const char kIssuerUniqueIdNotExpected[] =
    "Unexpected issuerUniqueId (must be V2 or V3 certificate)";
const char kFailedReadingSubjectUniqueId[] = "Failed reading subjectUniqueId";
const char kFailedParsingSubjectUniqueId[] = "Failed parsing subjectUniqueId";
const char kSubjectUniqueIdNotExpected[] =
    "Unexpected subjectUniqueId (must be V2 or V3 certificate)";
const char kFailedReadingExtensions[] = "Failed reading extensions SEQUENCE";
const char kUnexpectedExtensions[] =
    "Unexpected extensions (must be V3 certificate)";
const char kUnconsumedDataInsideTbs[] = "Unconsumed data inside TBSCertificate";

const char kSerialNotValidInteger[] = "Serial number is not a valid INTEGER";
const char kSerialNumberIsNegative[] = "Serial number is negative";
const char kSerialNumberIsZero[] = "Serial number is zero";
const char kSerialNumberLengthOver20[] =
    "Serial number is longer than 20 octets";

// RFC 5280 4.1.2.2: conforming serial numbers are at most 20 octets.
constexpr size_t kMaxSerialNumberLength = 20;

constexpr uint8_t kSubjectKeyIdentifierOid[] = {0x55, 0x1d, 0x0e};
constexpr uint8_t kKeyUsageOid[] = {0x55, 0x1d, 0x0f};
constexpr uint8_t kSubjectAltNameOid[] = {0x55, 0x1d, 0x11};
constexpr uint8_t kBasicConstraintsOid[] = {0x55, 0x1d, 0x13};
constexpr uint8_t kNameConstraintsOid[] = {0x55, 0x1d, 0x1e};
constexpr uint8_t kCertificatePoliciesOid[] = {0x55, 0x1d, 0x20};
constexpr uint8_t kAuthorityKeyIdentifierOid[] = {0x55, 0x1d, 0x23};
constexpr uint8_t kPolicyConstraintsOid[] = {0x55, 0x1d, 0x24};
constexpr uint8_t kExtKeyUsageOid[] = {0x55, 0x1d, 0x25};
constexpr uint8_t kAuthorityInfoAccessOid[] = {0x2b, 0x06, 0x01, 0x05,
                                               0x05, 0x07, 0x01, 0x01};
constexpr uint8_t kAdCaIssuersOid[] = {0x2b, 0x06, 0x01, 0x05,
                                       0x05, 0x07, 0x30, 0x02};
constexpr uint8_t kAdOcspOid[] = {0x2b, 0x06, 0x01, 0x05,
                                  0x05, 0x07, 0x30, 0x01};

// Reads the next element whole, which must be a SEQUENCE.
bool ReadSequenceTlv(der::Parser* parser, der::Input* out) {
  // In DER a universal tag below 31 takes the one identifier octet, so a
  // framed element is a SEQUENCE exactly when that octet is 0x30.
  constexpr uint8_t kSequenceIdentifier = 0x30;
  return parser->ReadRawElement(out) && out->length() > 0 &&
         out->data()[0] == kSequenceIdentifier;
}

// Reads one UTCTime or GeneralizedTime element.
bool ReadUtcOrGeneralizedTime(der::Parser* parser, der::GeneralizedTime* out) {
  der::Tag tag;
  der::Input value;
  if (!parser->ReadElement(&tag, &value))
    return false;
  if (tag == der::kUtcTime)
    return der::ParseUTCTime(value, out);
  if (tag == der::kGeneralizedTime)
    return der::ParseGeneralizedTime(value, out);
  return false;
}

// Reads the contents of one Extension SEQUENCE.
bool ParseExtensionContents(der::Parser* extension_parser,
                            ParsedExtension* out) {
  if (!extension_parser->ReadValueWithTag(der::kOid, &out->oid))
    return false;

  out->critical = false;
  der::Input critical_value;
  bool has_critical = false;
  if (!extension_parser->ReadOptionalElement(der::kBool, &critical_value,
                                             &has_critical)) {
    return false;
  }
  if (has_critical) {
    if (!der::ParseBool(critical_value, &out->critical))
      return false;
    // DER leaves the default (false) out.
    if (!out->critical)
      return false;
  }

  if (!extension_parser->ReadValueWithTag(der::kOctetString, &out->value))
    return false;
  return !extension_parser->HasMore();
}

bool IsAscii(const der::Input& in) {
  for (size_t i = 0; i < in.length(); ++i) {
    if (in.data()[i] >= 0x80)
      return false;
  }
  return true;
}

}  // namespace

ParsedTbsCertificate::ParsedTbsCertificate() = default;
ParsedTbsCertificate::ParsedTbsCertificate(const ParsedTbsCertificate&) =
    default;
ParsedTbsCertificate& ParsedTbsCertificate::operator=(
    const ParsedTbsCertificate&) = default;
ParsedTbsCertificate::~ParsedTbsCertificate() = default;

ParsedAuthorityKeyIdentifier::ParsedAuthorityKeyIdentifier() = default;
ParsedAuthorityKeyIdentifier::ParsedAuthorityKeyIdentifier(
    const ParsedAuthorityKeyIdentifier&) = default;
ParsedAuthorityKeyIdentifier& ParsedAuthorityKeyIdentifier::operator=(
    const ParsedAuthorityKeyIdentifier&) = default;
ParsedAuthorityKeyIdentifier::~ParsedAuthorityKeyIdentifier() = default;

der::Input SubjectKeyIdentifierOid() {
  return der::Input(kSubjectKeyIdentifierOid);
}
der::Input KeyUsageOid() { return der::Input(kKeyUsageOid); }
der::Input SubjectAltNameOid() { return der::Input(kSubjectAltNameOid); }
der::Input BasicConstraintsOid() { return der::Input(kBasicConstraintsOid); }
der::Input NameConstraintsOid() { return der::Input(kNameConstraintsOid); }
der::Input CertificatePoliciesOid() {
  return der::Input(kCertificatePoliciesOid);
}
der::Input AuthorityKeyIdentifierOid() {
  return der::Input(kAuthorityKeyIdentifierOid);
}
der::Input PolicyConstraintsOid() { return der::Input(kPolicyConstraintsOid); }
der::Input ExtKeyUsageOid() { return der::Input(kExtKeyUsageOid); }
der::Input AuthorityInfoAccessOid() {
  return der::Input(kAuthorityInfoAccessOid);
}
der::Input AdCaIssuersOid() { return der::Input(kAdCaIssuersOid); }
der::Input AdOcspOid() { return der::Input(kAdOcspOid); }

bool ParseCertificate(const der::Input& certificate_tlv,
                      der::Input* out_tbs_certificate_tlv,
                      der::Input* out_signature_algorithm_tlv,
                      der::BitString* out_signature_value,
                      CertErrors* out_errors) {
  CertErrors unused_errors;
  CertErrors* errors = out_errors ? out_errors : &unused_errors;

  der::Parser parser(certificate_tlv);
  der::Parser certificate_parser;
  if (!parser.ReadSequence(&certificate_parser)) {
    errors->AddError(kFailedParsingCertificateSequence);
    return false;
  }
  if (!ReadSequenceTlv(&certificate_parser, out_tbs_certificate_tlv)) {
    errors->AddError(kFailedReadingTbsCertificate);
    return false;
  }
  if (!ReadSequenceTlv(&certificate_parser, out_signature_algorithm_tlv)) {
    errors->AddError(kFailedReadingSignatureAlgorithm);
    return false;
  }
  if (!certificate_parser.ReadBitString(out_signature_value)) {
    errors->AddError(kFailedReadingSignatureValue);
    return false;
  }
  if (certificate_parser.HasMore()) {
    errors->AddError(kUnconsumedDataInsideCertificate);
    return false;
  }
  if (parser.HasMore()) {
    errors->AddError(kUnconsumedDataAfterCertificate);
    return false;
  }
  return true;
}

bool ParseTbsCertificate(const der::Input& tbs_tlv,
                         const ParseCertificateOptions& options,
                         ParsedTbsCertificate* out,
                         CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors)
    errors = &unused_errors;

  der::Parser parser(tbs_tlv);
  der::Parser tbs_parser;
  if (!parser.ReadSequence(&tbs_parser)) {
    errors->AddError(kFailedParsingTbsSequence);
    return false;
  }

  // version [0] EXPLICIT Version DEFAULT v1
  der::Input version_value;
  bool has_version = false;
  if (!tbs_parser.ReadOptionalElement(der::ContextSpecificConstructed(0),
                                      &version_value, &has_version)) {
    errors->AddError(kFailedReadingVersion);
    return false;
  }
  if (has_version) {
    der::Parser version_parser(version_value);
    uint64_t version = 0;
    if (!version_parser.ReadUint64(&version) || version_parser.HasMore() ||
        version > 2) {
      errors->AddError(kFailedParsingVersion);
      return false;
    }
    if (version == 0) {
      // DER leaves a default value out.
      errors->AddError(kVersionExplicitlyV1);
      return false;
    }
    out->version = static_cast<int>(version);
  } else {
    out->version = 0;
  }

  if (!tbs_parser.ReadValueWithTag(der::kInteger, &out->serial_number)) {
    errors->AddError(kFailedReadingSerialNumber);
    return false;
  }
  if (!ParseSerialNumber(out->serial_number,
                         options.allow_invalid_serial_numbers, errors) &&
      !options.allow_invalid_serial_numbers) {
    return false;
  }

  if (!ReadSequenceTlv(&tbs_parser, &out->signature_algorithm_tlv)) {
    errors->AddError(kFailedReadingSignature);
    return false;
  }
  if (!ReadSequenceTlv(&tbs_parser, &out->issuer_tlv)) {
    errors->AddError(kFailedReadingIssuer);
    return false;
  }

  der::Input validity_tlv;
  if (!tbs_parser.ReadRawElement(&validity_tlv)) {
    errors->AddError(kFailedReadingValidity);
    return false;
  }
  if (!ParseValidity(validity_tlv, &out->validity_not_before,
                     &out->validity_not_after)) {
    errors->AddError(kFailedParsingValidity);
    return false;
  }

  if (!ReadSequenceTlv(&tbs_parser, &out->subject_tlv)) {
    errors->AddError(kFailedReadingSubject);
    return false;
  }
  if (!ReadSequenceTlv(&tbs_parser, &out->spki_tlv)) {
    errors->AddError(kFailedReadingSpki);
    return false;
  }

  // issuerUniqueID [1] IMPLICIT UniqueIdentifier OPTIONAL
  der::Input unique_id;
  if (!tbs_parser.ReadOptionalElement(der::ContextSpecificPrimitive(1),
                                      &unique_id,
                                      &out->has_issuer_unique_id)) {
    errors->AddError(kFailedReadingIssuerUniqueId);
    return false;
  }
  if (out->has_issuer_unique_id) {
    if (!der::ParseBitString(unique_id, &out->issuer_unique_id)) {
      errors->AddError(kFailedParsingIssuerUniqueId);
      return false;
    }
    if (out->version < 1) {
      errors->AddError(kIssuerUniqueIdNotExpected);
      return false;
    }
  }

  // subjectUniqueID [2] IMPLICIT UniqueIdentifier OPTIONAL
  if (!tbs_parser.ReadOptionalElement(der::ContextSpecificPrimitive(2),
                                      &unique_id,
                                      &out->has_subject_unique_id)) {
    errors->AddError(kFailedReadingSubjectUniqueId);
    return false;
  }
  if (out->has_subject_unique_id) {
    if (!der::ParseBitString(unique_id, &out->subject_unique_id)) {
      errors->AddError(kFailedParsingSubjectUniqueId);
      return false;
    }
    if (out->version < 1) {
      errors->AddError(kSubjectUniqueIdNotExpected);
      return false;
    }
  }

  // extensions [3] EXPLICIT Extensions OPTIONAL
  der::Input extensions_wrapper;
  if (!tbs_parser.ReadOptionalElement(der::ContextSpecificConstructed(3),
                                      &extensions_wrapper,
                                      &out->has_extensions)) {
    errors->AddError(kFailedReadingExtensions);
    return false;
  }
  if (out->has_extensions) {
    der::Parser extensions_parser(extensions_wrapper);
    if (!ReadSequenceTlv(&extensions_parser, &out->extensions_tlv) ||
        extensions_parser.HasMore()) {
      errors->AddError(kFailedReadingExtensions);
      return false;
    }
    if (out->version != 2) {
      errors->AddError(kUnexpectedExtensions);
      return false;
    }
  }

  if (tbs_parser.HasMore()) {
    errors->AddError(kUnconsumedDataInsideTbs);
    return false;
  }
  // Bytes after the TBSCertificate: the outer certificate parse has already
  // framed it, so only a direct caller can get here.
  return !parser.HasMore();
}

bool ParseSerialNumber(const der::Input& value,
                       bool warnings_only,
                       CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors)
    errors = &unused_errors;
  const CertErrorSeverity severity =
      warnings_only ? SEVERITY_WARNING : SEVERITY_ERROR;

  bool negative = false;
  if (!der::IsValidInteger(value, &negative)) {
    errors->Add(severity, kSerialNotValidInteger, nullptr);
    return false;
  }
  if (negative)
    errors->AddWarning(kSerialNumberIsNegative);
  if (value.length() == 1 && value.data()[0] == 0)
    errors->AddWarning(kSerialNumberIsZero);
  if (value.length() > kMaxSerialNumberLength) {
    errors->Add(severity, kSerialNumberLengthOver20,
                CreateCertErrorParams1SizeT("length", value.length()));
    return false;
  }
  return true;
}

bool ParseValidity(const der::Input& validity_tlv,
                   der::GeneralizedTime* not_before,
                   der::GeneralizedTime* not_after) {
  der::Parser parser(validity_tlv);
  der::Parser validity_parser;
  if (!parser.ReadSequence(&validity_parser) || parser.HasMore())
    return false;
  if (!ReadUtcOrGeneralizedTime(&validity_parser, not_before) ||
      !ReadUtcOrGeneralizedTime(&validity_parser, not_after)) {
    return false;
  }
  return !validity_parser.HasMore();
}

bool ParseExtension(const der::Input& extension_tlv, ParsedExtension* out) {
  der::Parser parser(extension_tlv);
  der::Parser extension_parser;
  if (!parser.ReadSequence(&extension_parser) || parser.HasMore())
    return false;
  return ParseExtensionContents(&extension_parser, out);
}

bool ParseExtensions(const der::Input& extensions_tlv,
                     std::map<der::Input, ParsedExtension>* extensions) {
  der::Parser parser(extensions_tlv);
  der::Parser extensions_parser;
  if (!parser.ReadSequence(&extensions_parser) || parser.HasMore())
    return false;
  // Extensions ::= SEQUENCE SIZE (1..MAX) OF Extension
  if (!extensions_parser.HasMore())
    return false;

  extensions->clear();
  while (extensions_parser.HasMore()) {
    // The same as ParseExtension of the element taken whole, without
    // framing it twice.
    der::Parser extension_parser;
    ParsedExtension extension;
    if (!extensions_parser.ReadSequence(&extension_parser) ||
        !ParseExtensionContents(&extension_parser, &extension)) {
      return false;
    }
    // RFC 5280 4.2: a certificate must not include an extension twice.
    if (!extensions->emplace(extension.oid, extension).second)
      return false;
  }
  return true;
}

bool ParseBasicConstraints(const der::Input& basic_constraints_tlv,
                           ParsedBasicConstraints* out) {
  der::Parser parser(basic_constraints_tlv);
  der::Parser sequence_parser;
  if (!parser.ReadSequence(&sequence_parser) || parser.HasMore())
    return false;

  der::Input ca_value;
  bool has_ca = false;
  if (!sequence_parser.ReadOptionalElement(der::kBool, &ca_value, &has_ca))
    return false;
  out->is_ca = false;
  // An encoded false breaks DER, but is common enough in the field to be
  // accepted here.
  if (has_ca && !der::ParseBool(ca_value, &out->is_ca))
    return false;

  der::Input path_len_value;
  if (!sequence_parser.ReadOptionalElement(der::kInteger, &path_len_value,
                                           &out->has_path_len)) {
    return false;
  }
  out->path_len = 0;
  if (out->has_path_len && !der::ParseUint8(path_len_value, &out->path_len))
    return false;

  return !sequence_parser.HasMore();
}

bool ParseKeyUsage(const der::Input& key_usage_tlv,
                   der::BitString* key_usage) {
  der::Parser parser(key_usage_tlv);
  if (!parser.ReadBitString(key_usage) || parser.HasMore())
    return false;
  // RFC 5280 4.2.1.3: at least one bit must be set.
  const der::Input& bytes = key_usage->bytes();
  for (size_t i = 0; i < bytes.length(); ++i) {
    if (bytes.data()[i] != 0)
      return true;
  }
  return false;
}

bool ParseAuthorityInfoAccess(
    const der::Input& authority_info_access_tlv,
    std::vector<std::string_view>* out_ca_issuers_uris,
    std::vector<std::string_view>* out_ocsp_uris) {
  out_ca_issuers_uris->clear();
  out_ocsp_uris->clear();

  der::Parser parser(authority_info_access_tlv);
  der::Parser sequence_parser;
  if (!parser.ReadSequence(&sequence_parser))
    return false;
  // AuthorityInfoAccessSyntax ::= SEQUENCE SIZE (1..MAX) OF AccessDescription
  if (!sequence_parser.HasMore())
    return false;

  while (sequence_parser.HasMore()) {
    der::Parser access_description_parser;
    if (!sequence_parser.ReadSequence(&access_description_parser))
      return false;
    der::Input access_method;
    if (!access_description_parser.ReadValueWithTag(der::kOid,
                                                    &access_method)) {
      return false;
    }
    der::Tag location_tag;
    der::Input location;
    if (!access_description_parser.ReadElement(&location_tag, &location))
      return false;

    // Only uniformResourceIdentifier [6] locations are of use.
    if (location_tag != der::ContextSpecificPrimitive(6))
      continue;
    if (!IsAscii(location))
      return false;
    if (access_method == AdCaIssuersOid())
      out_ca_issuers_uris->push_back(location.AsStringView());
    else if (access_method == AdOcspOid())
      out_ocsp_uris->push_back(location.AsStringView());
  }
  return true;
}

bool ParseKeyIdentifier(const der::Input& input, der::Input* key_identifier) {
  der::Parser parser(input);
  if (!parser.ReadValueWithTag(der::kOctetString, key_identifier))
    return false;
  return !parser.HasMore();
}

bool ParseAuthorityKeyIdentifier(
    const der::Input& authority_key_identifier_tlv,
    ParsedAuthorityKeyIdentifier* out) {
  der::Parser parser(authority_key_identifier_tlv);
  der::Parser sequence_parser;
  if (!parser.ReadSequence(&sequence_parser) || parser.HasMore())
    return false;

  if (!sequence_parser.ReadOptionalElement(der::ContextSpecificPrimitive(0),
                                           &out->key_identifier) ||
      !sequence_parser.ReadOptionalElement(der::ContextSpecificConstructed(1),
                                           &out->authority_cert_issuer) ||
      !sequence_parser.ReadOptionalElement(der::ContextSpecificPrimitive(2),
                                           &out->authority_cert_serial_number)) {
    return false;
  }
  // RFC 5280 4.2.1.1: the issuer and the serial number come together.
  if (out->authority_cert_issuer.has_value() !=
      out->authority_cert_serial_number.has_value()) {
    return false;
  }
  return !sequence_parser.HasMore();
}

bool ReadSequenceContents(const der::Input& tlv, der::Input* contents) {
  der::Parser parser(tlv);
  if (!parser.ReadValueWithTag(der::kSequence, contents))
    return false;
  return !parser.HasMore();
}

}  // namespace net
