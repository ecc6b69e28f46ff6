#include "agent/net/cert/internal/parsed_certificate.h"

#include <utility>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/extended_key_usage.h"
#include "agent/net/cert/internal/general_names.h"
#include "agent/net/cert/internal/name_constraints.h"
#include "agent/net/cert/internal/signature_algorithm.h"
#include "agent/net/cert/internal/verify_name_match.h"

namespace net {

namespace {

const char kFailedParsingCertificate[] = "Failed parsing Certificate";
const char kFailedParsingTbsCertificate[] = "Failed parsing TBSCertificate";
const char kFailedParsingSignatureAlgorithm[] =
    "Failed parsing SignatureAlgorithm";
const char kFailedReadingIssuerOrSubject[] = "Failed reading issuer or subject";
const char kFailedNormalizingSubject[] = "Failed normalizing subject";
const char kFailedNormalizingIssuer[] = "Failed normalizing issuer";
const char kFailedParsingExtensions[] = "Failed parsing extensions";
const char kFailedParsingBasicConstraints[] = "Failed parsing basic constraints";
const char kFailedParsingKeyUsage[] = "Failed parsing key usage";
const char kFailedParsingEku[] = "Failed parsing extended key usage";
const char kFailedParsingSubjectAltName[] = "Failed parsing subjectAltName";
const char kSubjectAltNameNotCritical[] =
    "Empty subject and subjectAltName is not critical";
const char kFailedParsingNameConstraints[] = "Failed parsing name constraints";
const char kFailedParsingAia[] = "Failed parsing authority info access";
const char kFailedParsingPolicies[] = "Failed parsing certificate policies";
const char kFailedParsingPolicyConstraints[] =
    "Failed parsing policy constraints";
const char kFailedParsingPolicyMappings[] = "Failed parsing policy mappings";
const char kFailedParsingInhibitAnyPolicy[] =
    "Failed parsing inhibit any policy";
const char kFailedParsingSubjectKeyIdentifier[] =
    "Failed parsing subject key identifier";
const char kFailedParsingAuthorityKeyIdentifier[] =
    "Failed parsing authority key identifier";

// The extensions decoded at creation.
enum KnownExtension {
  kBasicConstraints,
  kKeyUsage,
  kExtKeyUsage,
  kSubjectAltName,
  kNameConstraints,
  kAuthorityInfoAccess,
  kCertificatePolicies,
  kPolicyConstraints,
  kPolicyMappings,
  kInhibitAnyPolicy,
  kSubjectKeyIdentifier,
  kAuthorityKeyIdentifier,
  kKnownExtensionCount,
};

// The KnownExtension of `oid`, or -1.
int KnownExtensionIndex(const der::Input& oid) {
  // All but authorityInfoAccess live under id-ce (2.5.29).
  if (oid.length() == 3 && oid.data()[0] == 0x55 && oid.data()[1] == 0x1d) {
    switch (oid.data()[2]) {
      case 0x13: return kBasicConstraints;
      case 0x0f: return kKeyUsage;
      case 0x25: return kExtKeyUsage;
      case 0x11: return kSubjectAltName;
      case 0x1e: return kNameConstraints;
      case 0x20: return kCertificatePolicies;
      case 0x24: return kPolicyConstraints;
      case 0x21: return kPolicyMappings;
      case 0x36: return kInhibitAnyPolicy;
      case 0x0e: return kSubjectKeyIdentifier;
      case 0x23: return kAuthorityKeyIdentifier;
      default: return -1;
    }
  }
  return oid == AuthorityInfoAccessOid() ? kAuthorityInfoAccess : -1;
}

}  // namespace

ParsedCertificate::ParsedCertificate() = default;
ParsedCertificate::~ParsedCertificate() = default;

scoped_refptr<ParsedCertificate> ParsedCertificate::Create(
    bssl::UniquePtr<CRYPTO_BUFFER> cert_data,
    const ParseCertificateOptions& options,
    CertErrors* errors) {
  return CreateInternal(std::move(cert_data), der::Input(), options, errors);
}

scoped_refptr<ParsedCertificate> ParsedCertificate::CreateFromStaticBytes(
    const uint8_t* data,
    size_t length,
    const ParseCertificateOptions& options,
    CertErrors* errors) {
  return CreateInternal(nullptr, der::Input(data, length), options, errors);
}

scoped_refptr<ParsedCertificate> ParsedCertificate::CreateInternal(
    bssl::UniquePtr<CRYPTO_BUFFER> cert_data,
    der::Input static_bytes,
    const ParseCertificateOptions& options,
    CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors)
    errors = &unused_errors;

  scoped_refptr<ParsedCertificate> result(new ParsedCertificate());
  if (cert_data) {
    result->cert_data_ = std::move(cert_data);
    result->cert_ = der::Input(CRYPTO_BUFFER_data(result->cert_data_.get()),
                               CRYPTO_BUFFER_len(result->cert_data_.get()));
  } else {
    result->cert_ = static_bytes;
  }

  if (!ParseCertificate(result->cert_, &result->tbs_certificate_tlv_,
                        &result->signature_algorithm_tlv_,
                        &result->signature_value_, errors)) {
    errors->AddError(kFailedParsingCertificate);
    return nullptr;
  }

  if (!ParseTbsCertificate(result->tbs_certificate_tlv_, options,
                           &result->tbs_, errors)) {
    errors->AddError(kFailedParsingTbsCertificate);
    return nullptr;
  }

  result->signature_algorithm_ =
      SignatureAlgorithm::Create(result->signature_algorithm_tlv_, errors);
  if (!result->signature_algorithm_) {
    errors->AddError(kFailedParsingSignatureAlgorithm);
    return nullptr;
  }

  der::Input subject_value;
  if (!ReadSequenceContents(result->tbs_.subject_tlv, &subject_value)) {
    errors->AddError(kFailedReadingIssuerOrSubject);
    return nullptr;
  }
  if (!NormalizeName(subject_value, &result->normalized_subject_, errors)) {
    errors->AddError(kFailedNormalizingSubject);
    return nullptr;
  }
  der::Input issuer_value;
  if (!ReadSequenceContents(result->tbs_.issuer_tlv, &issuer_value)) {
    errors->AddError(kFailedReadingIssuerOrSubject);
    return nullptr;
  }
  if (!NormalizeName(issuer_value, &result->normalized_issuer_, errors)) {
    errors->AddError(kFailedNormalizingIssuer);
    return nullptr;
  }

  if (!result->tbs_.has_extensions)
    return result;

  if (!ParseExtensions(result->tbs_.extensions_tlv, &result->extensions_)) {
    errors->AddError(kFailedParsingExtensions);
    return nullptr;
  }
  if (!result->ParseKnownExtensions(subject_value, errors))
    return nullptr;
  return result;
}

bool ParsedCertificate::ParseKnownExtensions(const der::Input& subject_value,
                                             CertErrors* errors) {
  // One pass over the map picks out the known extensions; they are then
  // decoded in their fixed order.
  const ParsedExtension* known[kKnownExtensionCount] = {};
  for (const auto& [oid, extension] : extensions_) {
    const int index = KnownExtensionIndex(oid);
    if (index >= 0)
      known[index] = &extension;
  }
  auto find = [&known](KnownExtension which) { return known[which]; };
  const ParsedExtension* found = nullptr;

  if ((found = find(kBasicConstraints))) {
    const ParsedExtension& extension = *found;
    has_basic_constraints_ = true;
    if (!ParseBasicConstraints(extension.value, &basic_constraints_)) {
      errors->AddError(kFailedParsingBasicConstraints);
      return false;
    }
  }

  if ((found = find(kKeyUsage))) {
    const ParsedExtension& extension = *found;
    has_key_usage_ = true;
    if (!ParseKeyUsage(extension.value, &key_usage_)) {
      errors->AddError(kFailedParsingKeyUsage);
      return false;
    }
  }

  if ((found = find(kExtKeyUsage))) {
    const ParsedExtension& extension = *found;
    has_extended_key_usage_ = true;
    if (!ParseExtendedKeyUsage(extension.value, &extended_key_usage_)) {
      errors->AddError(kFailedParsingEku);
      return false;
    }
  }

  if ((found = find(kSubjectAltName))) {
    subject_alt_names_extension_ = *found;
    subject_alt_names_ =
        ParseGeneralNames(subject_alt_names_extension_.value, errors);
    if (!subject_alt_names_) {
      errors->AddError(kFailedParsingSubjectAltName);
      return false;
    }
    // RFC 5280 4.2.1.6: with an empty subject the names live only in the
    // subjectAltName, which must then be critical.
    if (subject_value.empty() && !subject_alt_names_extension_.critical) {
      errors->AddError(kSubjectAltNameNotCritical);
      return false;
    }
  }

  if ((found = find(kNameConstraints))) {
    const ParsedExtension& extension = *found;
    name_constraints_ =
        NameConstraints::Create(extension.value, extension.critical, errors);
    if (!name_constraints_) {
      errors->AddError(kFailedParsingNameConstraints);
      return false;
    }
  }

  if ((found = find(kAuthorityInfoAccess))) {
    authority_info_access_extension_ = *found;
    has_authority_info_access_ = true;
    if (!ParseAuthorityInfoAccess(authority_info_access_extension_.value,
                                  &ca_issuers_uris_, &ocsp_uris_)) {
      errors->AddError(kFailedParsingAia);
      return false;
    }
  }

  if ((found = find(kCertificatePolicies))) {
    const ParsedExtension& extension = *found;
    has_policy_oids_ = true;
    // Lenient: unknown qualifiers are refused only under anyPolicy here.
    // Chain verification parses a critical extension again strictly.
    if (!ParseCertificatePolicies(extension.value,
                                  /*fail_parsing_unknown_qualifier_oids=*/false,
                                  &policy_oids_, errors)) {
      errors->AddError(kFailedParsingPolicies);
      return false;
    }
  }

  if ((found = find(kPolicyConstraints))) {
    const ParsedExtension& extension = *found;
    has_policy_constraints_ = true;
    if (!ParsePolicyConstraints(extension.value, &policy_constraints_)) {
      errors->AddError(kFailedParsingPolicyConstraints);
      return false;
    }
  }

  if ((found = find(kPolicyMappings))) {
    const ParsedExtension& extension = *found;
    has_policy_mappings_ = true;
    if (!ParsePolicyMappings(extension.value, &policy_mappings_)) {
      errors->AddError(kFailedParsingPolicyMappings);
      return false;
    }
  }

  if ((found = find(kInhibitAnyPolicy))) {
    const ParsedExtension& extension = *found;
    has_inhibit_any_policy_ = true;
    if (!ParseInhibitAnyPolicy(extension.value, &inhibit_any_policy_)) {
      errors->AddError(kFailedParsingInhibitAnyPolicy);
      return false;
    }
  }

  if ((found = find(kSubjectKeyIdentifier))) {
    const ParsedExtension& extension = *found;
    subject_key_identifier_ = der::Input();
    if (!ParseKeyIdentifier(extension.value, &*subject_key_identifier_)) {
      errors->AddError(kFailedParsingSubjectKeyIdentifier);
      return false;
    }
  }

  if ((found = find(kAuthorityKeyIdentifier))) {
    const ParsedExtension& extension = *found;
    authority_key_identifier_ = ParsedAuthorityKeyIdentifier();
    if (!ParseAuthorityKeyIdentifier(extension.value,
                                     &*authority_key_identifier_)) {
      errors->AddError(kFailedParsingAuthorityKeyIdentifier);
      return false;
    }
  }
  return true;
}

bool ParsedCertificate::GetExtension(const der::Input& extension_oid,
                                     ParsedExtension* parsed_extension) const {
  *parsed_extension = ParsedExtension();
  if (!tbs_.has_extensions)
    return false;
  auto it = extensions_.find(extension_oid);
  if (it == extensions_.end())
    return false;
  *parsed_extension = it->second;
  return true;
}

}  // namespace net
