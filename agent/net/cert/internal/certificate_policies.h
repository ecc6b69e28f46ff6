#ifndef AGENT_NET_CERT_INTERNAL_CERTIFICATE_POLICIES_H_
#define AGENT_NET_CERT_INTERNAL_CERTIFICATE_POLICIES_H_

// Parsers of the policy extensions of RFC 5280 (certificatePolicies,
// policyConstraints, policyMappings, inhibitAnyPolicy) into the plain values
// that chain verification works with.
//
// Every parser takes the extension's value (the contents of its OCTET
// STRING) and returns views into those bytes, which must outlive the results.
// Only ParseCertificatePolicies says why it failed; the others just return
// false. No shared state.

#include <cstdint>
#include <vector>

#include "agent/net/der/input.h"

namespace net {

class CertErrors;

// Value bytes of the OIDs of this area.
der::Input AnyPolicy();               // 2.5.29.32.0
der::Input InhibitAnyPolicyOid();     // 2.5.29.54
der::Input PolicyMappingsOid();       // 2.5.29.33
der::Input CpsPointerQualifierOid();  // 1.3.6.1.5.5.7.2.1 (id-qt-cps)
der::Input UserNoticeQualifierOid();  // 1.3.6.1.5.5.7.2.2 (id-qt-unotice)

// Reads certificatePolicies into `*policies`: the policy OIDs sorted
// ascending (der::operator<), each once. A repeated OID fails. Qualifiers are
// read for their shape only; their ids are checked when
// `fail_parsing_unknown_qualifier_oids` is set, and otherwise only for
// anyPolicy: an id other than CPS pointer and user notice then fails.
// Failures append errors to `errors` (may be null).
[[nodiscard]] bool ParseCertificatePolicies(
    const der::Input& extension_value, bool fail_parsing_unknown_qualifier_oids,
    std::vector<der::Input>* policies, CertErrors* errors);

struct ParsedPolicyConstraints {
  bool has_require_explicit_policy = false;
  uint8_t require_explicit_policy = 0;
  bool has_inhibit_policy_mapping = false;
  uint8_t inhibit_policy_mapping = 0;
};

// Reads policyConstraints: requireExplicitPolicy [0] and
// inhibitPolicyMapping [1], each optional, each a skip count below 256; at
// least one must be present. An absent counter reads false and 0.
[[nodiscard]] bool ParsePolicyConstraints(const der::Input& policy_constraints,
                                          ParsedPolicyConstraints* out);

struct ParsedPolicyMapping {
  der::Input issuer_domain_policy;
  der::Input subject_domain_policy;
};

// Reads policyMappings into `*mappings` (cleared first), in encoded order.
// Mapping anyPolicy is accepted here; chain verification refuses it.
[[nodiscard]] bool ParsePolicyMappings(
    const der::Input& policy_mappings,
    std::vector<ParsedPolicyMapping>* mappings);

// Reads inhibitAnyPolicy: one INTEGER from 0 to 255.
[[nodiscard]] bool ParseInhibitAnyPolicy(const der::Input& inhibit_any_policy,
                                         uint8_t* num_certs);

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_CERTIFICATE_POLICIES_H_
