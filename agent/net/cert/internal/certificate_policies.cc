#include "agent/net/cert/internal/certificate_policies.h"

#include <algorithm>
#include <optional>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/der/parse_values.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"

namespace net {

namespace {

constexpr uint8_t kAnyPolicyOid[] = {0x55, 0x1d, 0x20, 0x00};
constexpr uint8_t kInhibitAnyPolicyOid[] = {0x55, 0x1d, 0x36};
constexpr uint8_t kPolicyMappingsOid[] = {0x55, 0x1d, 0x21};
constexpr uint8_t kCpsPointerQualifierOid[] = {0x2b, 0x06, 0x01, 0x05,
                                               0x05, 0x07, 0x02, 0x01};
constexpr uint8_t kUserNoticeQualifierOid[] = {0x2b, 0x06, 0x01, 0x05,
                                               0x05, 0x07, 0x02, 0x02};

const char kPoliciesEmptySequence[] = "Policies is an empty SEQUENCE";
const char kPoliciesDuplicateOid[] = "Policies contains duplicate OIDs";
const char kPolicyInformationTrailingData[] =
    "PolicyInformation has trailing data";
const char kFailedParsingPolicyQualifiers[] =
    "Failed parsing policy qualifiers";
const char kPolicyQualifiersEmptySequence[] =
    "The policy qualifiers SEQUENCE is empty";
const char kUnknownPolicyQualifierOid[] =
    "Unknown policy qualifier OID (not CPS or User Notice)";
const char kPolicyQualifierInfoMissingQualifier[] =
    "PolicyQualifierInfo is missing qualifier";
const char kPolicyQualifierInfoTrailingData[] =
    "PolicyQualifierInfo has trailing data";

// Reads the policyQualifiers SEQUENCE of one PolicyInformation. The
// qualifiers' contents are not interpreted.
bool ParsePolicyQualifiers(bool restrict_qualifier_ids,
                           der::Parser* qualifiers_parser, CertErrors* errors) {
  if (!qualifiers_parser->HasMore()) {
    errors->AddError(kPolicyQualifiersEmptySequence);
    return false;
  }
  while (qualifiers_parser->HasMore()) {
    der::Parser qualifier_info_parser;
    der::Input qualifier_id;
    if (!qualifiers_parser->ReadSequence(&qualifier_info_parser) ||
        !qualifier_info_parser.ReadValueWithTag(der::kOid, &qualifier_id)) {
      return false;
    }
    if (restrict_qualifier_ids &&
        qualifier_id != der::Input(kCpsPointerQualifierOid) &&
        qualifier_id != der::Input(kUserNoticeQualifierOid)) {
      errors->AddError(kUnknownPolicyQualifierOid,
                       CreateCertErrorParams1Der("oid", qualifier_id));
      return false;
    }
    der::Tag qualifier_tag;
    der::Input qualifier;
    if (!qualifier_info_parser.ReadElement(&qualifier_tag, &qualifier)) {
      errors->AddError(kPolicyQualifierInfoMissingQualifier);
      return false;
    }
    if (qualifier_info_parser.HasMore()) {
      errors->AddError(kPolicyQualifierInfoTrailingData);
      return false;
    }
  }
  return true;
}

}  // namespace

der::Input AnyPolicy() { return der::Input(kAnyPolicyOid); }
der::Input InhibitAnyPolicyOid() { return der::Input(kInhibitAnyPolicyOid); }
der::Input PolicyMappingsOid() { return der::Input(kPolicyMappingsOid); }
der::Input CpsPointerQualifierOid() {
  return der::Input(kCpsPointerQualifierOid);
}
der::Input UserNoticeQualifierOid() {
  return der::Input(kUserNoticeQualifierOid);
}

bool ParseCertificatePolicies(const der::Input& extension_value,
                              bool fail_parsing_unknown_qualifier_oids,
                              std::vector<der::Input>* policies,
                              CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors) errors = &unused_errors;

  der::Parser extension_parser(extension_value);
  der::Parser policies_parser;
  if (!extension_parser.ReadSequence(&policies_parser)) return false;
  if (extension_parser.HasMore()) return false;
  if (!policies_parser.HasMore()) {
    errors->AddError(kPoliciesEmptySequence);
    return false;
  }

  policies->clear();
  while (policies_parser.HasMore()) {
    der::Parser policy_information_parser;
    der::Input policy_oid;
    if (!policies_parser.ReadSequence(&policy_information_parser) ||
        !policy_information_parser.ReadValueWithTag(der::kOid, &policy_oid)) {
      return false;
    }

    auto position =
        std::lower_bound(policies->begin(), policies->end(), policy_oid);
    if (position != policies->end() && *position == policy_oid) {
      errors->AddError(kPoliciesDuplicateOid,
                       CreateCertErrorParams1Der("oid", policy_oid));
      return false;
    }
    policies->insert(position, policy_oid);

    if (!policy_information_parser.HasMore()) continue;

    der::Parser qualifiers_parser;
    if (!policy_information_parser.ReadSequence(&qualifiers_parser)) {
      return false;
    }
    if (policy_information_parser.HasMore()) {
      errors->AddError(kPolicyInformationTrailingData);
      return false;
    }
    // Only anyPolicy's qualifiers are constrained by RFC 5280 unless the
    // caller asks for every policy's.
    const bool restrict_qualifier_ids =
        fail_parsing_unknown_qualifier_oids || policy_oid == AnyPolicy();
    if (!ParsePolicyQualifiers(restrict_qualifier_ids, &qualifiers_parser,
                               errors)) {
      errors->AddError(kFailedParsingPolicyQualifiers);
      return false;
    }
  }
  return true;
}

bool ParsePolicyConstraints(const der::Input& policy_constraints,
                            ParsedPolicyConstraints* out) {
  der::Parser extension_parser(policy_constraints);
  der::Parser sequence_parser;
  if (!extension_parser.ReadSequence(&sequence_parser)) return false;
  if (extension_parser.HasMore()) return false;
  // RFC 5280 forbids an empty policyConstraints.
  if (!sequence_parser.HasMore()) return false;

  *out = ParsedPolicyConstraints();

  std::optional<der::Input> require_explicit_policy;
  if (!sequence_parser.ReadOptionalElement(der::ContextSpecificPrimitive(0),
                                           &require_explicit_policy)) {
    return false;
  }
  if (require_explicit_policy) {
    if (!der::ParseUint8(*require_explicit_policy,
                         &out->require_explicit_policy)) {
      return false;
    }
    out->has_require_explicit_policy = true;
  }

  std::optional<der::Input> inhibit_policy_mapping;
  if (!sequence_parser.ReadOptionalElement(der::ContextSpecificPrimitive(1),
                                           &inhibit_policy_mapping)) {
    return false;
  }
  if (inhibit_policy_mapping) {
    if (!der::ParseUint8(*inhibit_policy_mapping,
                         &out->inhibit_policy_mapping)) {
      return false;
    }
    out->has_inhibit_policy_mapping = true;
  }

  return !sequence_parser.HasMore();
}

bool ParsePolicyMappings(const der::Input& policy_mappings,
                         std::vector<ParsedPolicyMapping>* mappings) {
  mappings->clear();

  der::Parser extension_parser(policy_mappings);
  der::Parser sequence_parser;
  if (!extension_parser.ReadSequence(&sequence_parser)) return false;
  if (extension_parser.HasMore()) return false;
  if (!sequence_parser.HasMore()) return false;

  while (sequence_parser.HasMore()) {
    der::Parser mapping_parser;
    if (!sequence_parser.ReadSequence(&mapping_parser)) return false;
    ParsedPolicyMapping mapping;
    if (!mapping_parser.ReadValueWithTag(der::kOid,
                                         &mapping.issuer_domain_policy) ||
        !mapping_parser.ReadValueWithTag(der::kOid,
                                         &mapping.subject_domain_policy) ||
        mapping_parser.HasMore()) {
      return false;
    }
    mappings->push_back(mapping);
  }
  return true;
}

bool ParseInhibitAnyPolicy(const der::Input& inhibit_any_policy,
                           uint8_t* num_certs) {
  der::Parser parser(inhibit_any_policy);
  return parser.ReadUint8(num_certs) && !parser.HasMore();
}

}  // namespace net
