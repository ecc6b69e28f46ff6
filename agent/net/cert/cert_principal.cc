#include "agent/net/cert/cert_principal.h"

namespace net {

CertPrincipal::CertPrincipal() = default;
CertPrincipal::CertPrincipal(const CertPrincipal&) = default;
CertPrincipal& CertPrincipal::operator=(const CertPrincipal&) = default;
CertPrincipal::~CertPrincipal() = default;

bool CertPrincipal::ParseFromName(const der::Input& name_tlv,
                                  PrintableStringHandling handling) {
  RDNSequence rdns;
  if (!ParseName(name_tlv, &rdns))
    return false;

  for (const RelativeDistinguishedName& rdn : rdns) {
    for (const X509NameAttribute& attribute : rdn) {
      std::string* single = nullptr;
      std::vector<std::string>* list = nullptr;
      if (attribute.type == TypeCommonNameOid())
        single = &common_name;
      else if (attribute.type == TypeLocalityNameOid())
        single = &locality_name;
      else if (attribute.type == TypeStateOrProvinceNameOid())
        single = &state_or_province_name;
      else if (attribute.type == TypeCountryNameOid())
        single = &country_name;
      else if (attribute.type == TypeStreetAddressOid())
        list = &street_addresses;
      else if (attribute.type == TypeOrganizationNameOid())
        list = &organization_names;
      else if (attribute.type == TypeOrganizationUnitNameOid())
        list = &organization_unit_names;
      else if (attribute.type == TypeDomainComponentOid())
        list = &domain_components;
      else
        continue;

      if (single) {
        // Later values of a field already filled are not even decoded.
        if (!single->empty())
          continue;
        if (!attribute.ValueAsStringWithHandling(handling, single))
          return false;
        continue;
      }
      std::string value;
      if (!attribute.ValueAsStringWithHandling(handling, &value))
        return false;
      list->push_back(std::move(value));
    }
  }
  return true;
}

std::string CertPrincipal::DisplayName() const {
  if (!common_name.empty())
    return common_name;
  if (!organization_names.empty())
    return organization_names[0];
  if (!organization_unit_names.empty())
    return organization_unit_names[0];
  return std::string();
}

}  // namespace net
