#include "agent/net/cert/internal/name_constraints.h"

#include <limits>
#include <optional>

#include "agent/base/strings/string_util.h"
#include "agent/net/base/ip_address.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/common_cert_errors.h"
#include "agent/net/cert/internal/verify_name_match.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"

namespace net {

namespace {

// More name comparisons than this for one certificate are refused: a
// hostile certificate could otherwise make verification quadratic.
constexpr size_t kMaxNameConstraintChecks = 1u << 20;

// The forms a non-critical extension may restrict: those that can be
// matched at all.
constexpr uint16_t kSupportedNameTypes = GENERAL_NAME_DNS_NAME |
                                         GENERAL_NAME_DIRECTORY_NAME |
                                         GENERAL_NAME_IP_ADDRESS;

size_t SaturatingAdd(size_t a, size_t b) {
  size_t sum;
  if (__builtin_add_overflow(a, b, &sum)) {
    return std::numeric_limits<size_t>::max();
  }
  return sum;
}

size_t SaturatingMultiply(size_t a, size_t b) {
  size_t product;
  if (__builtin_mul_overflow(a, b, &product)) {
    return std::numeric_limits<size_t>::max();
  }
  return product;
}

std::string_view RemoveTrailingDot(std::string_view s) {
  if (!s.empty() && s.back() == '.') s.remove_suffix(1);
  return s;
}

// Reads a GeneralSubtrees value: at least one GeneralSubtree, each a
// SEQUENCE holding only its base. RFC 5280 fixes minimum at 0, which DER
// leaves out, and forbids maximum, so anything after the base is refused.
bool ParseGeneralSubtrees(const der::Input& value, GeneralNames* subtrees,
                          CertErrors* errors) {
  der::Parser parser(value);
  if (!parser.HasMore()) return false;
  while (parser.HasMore()) {
    der::Parser subtree_parser;
    if (!parser.ReadSequence(&subtree_parser)) return false;
    der::Input raw_general_name;
    if (!subtree_parser.ReadRawElement(&raw_general_name)) return false;
    if (!ParseGeneralName(raw_general_name, ADDRESS_AND_MASK, subtrees,
                          errors)) {
      errors->AddError(cert_errors::kFailedParsingGeneralName);
      return false;
    }
    if (subtree_parser.HasMore()) return false;
  }
  return true;
}

}  // namespace

bool DnsNameMatchesConstraint(std::string_view name,
                              std::string_view constraint,
                              WildcardMatchType wildcard_matching) {
  if (constraint.empty()) return true;

  name = RemoveTrailingDot(name);
  constraint = RemoveTrailingDot(constraint);

  if (wildcard_matching == WILDCARD_PARTIAL_MATCH && name.size() > 2 &&
      name[0] == '*' && name[1] == '.') {
    const size_t dot = constraint.find('.');
    if (dot != std::string_view::npos &&
        kelmbase::EqualsIgnoringAsciiCase(name.substr(2),
                                          constraint.substr(dot + 1))) {
      return true;
    }
  }

  if (!kelmbase::EndsWith(name, constraint, kelmbase::kIgnoreAsciiCase)) {
    return false;
  }
  if (name.size() == constraint.size()) return true;
  if (!constraint.empty() && constraint.front() == '.') {
    constraint.remove_prefix(1);
  }
  if (constraint.size() >= name.size()) return false;
  return name[name.size() - constraint.size() - 1] == '.';
}

NameConstraints::NameConstraints() = default;
NameConstraints::~NameConstraints() = default;

std::unique_ptr<NameConstraints> NameConstraints::Create(
    const der::Input& extension_value, bool is_critical, CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors) errors = &unused_errors;

  std::unique_ptr<NameConstraints> name_constraints(new NameConstraints());
  if (!name_constraints->Parse(extension_value, is_critical, errors)) {
    return nullptr;
  }
  return name_constraints;
}

bool NameConstraints::Parse(const der::Input& extension_value, bool is_critical,
                            CertErrors* errors) {
  der::Parser extension_parser(extension_value);
  der::Parser sequence_parser;
  if (!extension_parser.ReadSequence(&sequence_parser)) return false;
  if (extension_parser.HasMore()) return false;

  std::optional<der::Input> permitted_subtrees_value;
  std::optional<der::Input> excluded_subtrees_value;
  if (!sequence_parser.ReadOptionalElement(der::ContextSpecificConstructed(0),
                                           &permitted_subtrees_value) ||
      !sequence_parser.ReadOptionalElement(der::ContextSpecificConstructed(1),
                                           &excluded_subtrees_value)) {
    return false;
  }
  // RFC 5280: at least one of the two must be present.
  if (!permitted_subtrees_value && !excluded_subtrees_value) return false;
  if (sequence_parser.HasMore()) return false;

  if (permitted_subtrees_value &&
      !ParseGeneralSubtrees(*permitted_subtrees_value, &permitted_subtrees_,
                            errors)) {
    return false;
  }
  if (excluded_subtrees_value &&
      !ParseGeneralSubtrees(*excluded_subtrees_value, &excluded_subtrees_,
                            errors)) {
    return false;
  }

  const uint16_t supported_name_types =
      is_critical ? uint16_t{GENERAL_NAME_ALL_TYPES} : kSupportedNameTypes;
  constrained_name_types_ =
      (permitted_subtrees_.present_name_types & supported_name_types) |
      (excluded_subtrees_.present_name_types & supported_name_types);
  return true;
}

void NameConstraints::IsPermittedCert(const der::Input& subject_rdn_sequence,
                                      const GeneralNames* subject_alt_names,
                                      CertErrors* errors) const {
  CertErrors unused_errors;
  if (!errors) errors = &unused_errors;

  const size_t directory_name_subtrees =
      SaturatingAdd(permitted_subtrees_.directory_names.size(),
                    excluded_subtrees_.directory_names.size());

  if (subject_alt_names) {
    const size_t dns_name_subtrees =
        SaturatingAdd(permitted_subtrees_.dns_names.size(),
                      excluded_subtrees_.dns_names.size());
    const size_t ip_address_subtrees =
        SaturatingAdd(permitted_subtrees_.ip_address_ranges.size(),
                      excluded_subtrees_.ip_address_ranges.size());
    size_t checks = SaturatingMultiply(subject_alt_names->dns_names.size(),
                                       dns_name_subtrees);
    checks = SaturatingAdd(
        checks, SaturatingMultiply(subject_alt_names->directory_names.size(),
                                   directory_name_subtrees));
    checks = SaturatingAdd(
        checks, SaturatingMultiply(subject_alt_names->ip_addresses.size(),
                                   ip_address_subtrees));
    if (!subject_rdn_sequence.empty()) {
      checks = SaturatingAdd(checks, directory_name_subtrees);
    }
    if (checks > kMaxNameConstraintChecks) {
      errors->AddError(cert_errors::kTooManyNameConstraintChecks);
      return;
    }

    // A constrained form that cannot be matched is refused outright.
    if (subject_alt_names->present_name_types & constrained_name_types_ &
        ~kSupportedNameTypes) {
      errors->AddError(cert_errors::kNotPermittedByNameConstraints);
      return;
    }
    for (std::string_view dns_name : subject_alt_names->dns_names) {
      if (!IsPermittedDnsName(dns_name)) {
        errors->AddError(cert_errors::kNotPermittedByNameConstraints);
        return;
      }
    }
    for (const der::Input& directory_name :
         subject_alt_names->directory_names) {
      if (!IsPermittedDirectoryName(directory_name)) {
        errors->AddError(cert_errors::kNotPermittedByNameConstraints);
        return;
      }
    }
    for (const IPAddress& ip_address : subject_alt_names->ip_addresses) {
      if (!IsPermittedIp(ip_address)) {
        errors->AddError(cert_errors::kNotPermittedByNameConstraints);
        return;
      }
    }
    // RFC 5280 4.2.1.10: an empty subject is not matched against
    // directoryName constraints when the names are in subjectAltName.
    if (subject_rdn_sequence.empty()) return;
  } else {
    if (directory_name_subtrees > kMaxNameConstraintChecks) {
      errors->AddError(cert_errors::kTooManyNameConstraintChecks);
      return;
    }
    // Without a subjectAltName, an email address can only hide in the
    // subject's legacy emailAddress attribute.
    if (constrained_name_types_ & GENERAL_NAME_RFC822_NAME) {
      bool contained_email_address = false;
      if (!NameHasEmailAddress(subject_rdn_sequence,
                               &contained_email_address) ||
          contained_email_address) {
        errors->AddError(cert_errors::kNotPermittedByNameConstraints);
        return;
      }
    }
  }

  if (!IsPermittedDirectoryName(subject_rdn_sequence)) {
    errors->AddError(cert_errors::kNotPermittedByNameConstraints);
  }
}

bool NameConstraints::IsPermittedDnsName(std::string_view name) const {
  for (std::string_view excluded : excluded_subtrees_.dns_names) {
    if (DnsNameMatchesConstraint(name, excluded, WILDCARD_PARTIAL_MATCH)) {
      return false;
    }
  }
  // A form named on either side is constrained, and a constrained form is
  // permitted only inside a permitted subtree: excluded subtrees alone leave
  // nothing of their form permitted.
  if (!(constrained_name_types_ & GENERAL_NAME_DNS_NAME)) return true;
  for (std::string_view permitted : permitted_subtrees_.dns_names) {
    if (DnsNameMatchesConstraint(name, permitted, WILDCARD_FULL_MATCH)) {
      return true;
    }
  }
  return false;
}

bool NameConstraints::IsPermittedDirectoryName(
    const der::Input& name_rdn_sequence) const {
  for (const der::Input& excluded : excluded_subtrees_.directory_names) {
    if (NameInSubtree(name_rdn_sequence, excluded)) return false;
  }
  if (!(constrained_name_types_ & GENERAL_NAME_DIRECTORY_NAME)) return true;
  for (const der::Input& permitted : permitted_subtrees_.directory_names) {
    if (NameInSubtree(name_rdn_sequence, permitted)) return true;
  }
  return false;
}

bool NameConstraints::IsPermittedIp(const IPAddress& ip) const {
  for (const auto& [prefix, prefix_length] :
       excluded_subtrees_.ip_address_ranges) {
    if (AddressMatchesPrefix(ip, prefix, prefix_length)) return false;
  }
  if (!(constrained_name_types_ & GENERAL_NAME_IP_ADDRESS)) return true;
  for (const auto& [prefix, prefix_length] :
       permitted_subtrees_.ip_address_ranges) {
    if (AddressMatchesPrefix(ip, prefix, prefix_length)) return true;
  }
  return false;
}

}  // namespace net
