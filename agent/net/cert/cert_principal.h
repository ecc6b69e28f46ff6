#ifndef AGENT_NET_CERT_CERT_PRINCIPAL_H_
#define AGENT_NET_CERT_CERT_PRINCIPAL_H_

#include <string>
#include <vector>

#include "agent/net/cert/internal/parse_name.h"
#include "agent/net/der/input.h"

namespace net {

// The parts of a subject or issuer Name that are shown to people. A plain
// value; no shared state.
class CertPrincipal {
 public:
  CertPrincipal();
  CertPrincipal(const CertPrincipal&);
  CertPrincipal& operator=(const CertPrincipal&);
  ~CertPrincipal();

  // Reads a Name TLV. The first non-empty common name, locality, state and
  // country win; street addresses, organizations, organizational units and
  // domain components are collected in Name order; other attributes are
  // ignored. False when the Name does not parse or a value that is read
  // does not convert to text (`handling` says how PrintableString values
  // are checked); fields read before the failure stay filled.
  bool ParseFromName(const der::Input& name_tlv,
                     PrintableStringHandling handling);

  // The common name; else the first organization; else the first
  // organizational unit; else "".
  std::string DisplayName() const;

  std::string common_name;
  std::string locality_name;
  std::string state_or_province_name;
  std::string country_name;
  std::vector<std::string> street_addresses;
  std::vector<std::string> organization_names;
  std::vector<std::string> organization_unit_names;
  std::vector<std::string> domain_components;
};

}  // namespace net

#endif  // AGENT_NET_CERT_CERT_PRINCIPAL_H_
