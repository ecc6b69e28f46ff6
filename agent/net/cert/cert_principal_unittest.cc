#include "agent/net/cert/cert_principal.h"

#include <string>
#include <vector>

#include "agent/net/cert/internal/der_test_builder.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Attribute;
using test::Sequence;
using test::Set;

std::string Rdn(const der::Input& type, der::Tag tag, const std::string& v) {
  return Set(Attribute(type, tag, v));
}

TEST(CertPrincipalTest, FieldsAndDisplayName) {
  const std::string name = Sequence(
      Rdn(TypeCountryNameOid(), der::kPrintableString, "US") +
      Rdn(TypeStateOrProvinceNameOid(), der::kUtf8String, "State") +
      Rdn(TypeLocalityNameOid(), der::kUtf8String, "Town") +
      Rdn(TypeStreetAddressOid(), der::kUtf8String, "1 Road") +
      Rdn(TypeOrganizationNameOid(), der::kUtf8String, "Org A") +
      Rdn(TypeOrganizationNameOid(), der::kUtf8String, "Org B") +
      Rdn(TypeOrganizationUnitNameOid(), der::kUtf8String, "Unit") +
      Rdn(TypeDomainComponentOid(), der::kIA5String, "example") +
      Rdn(TypeDomainComponentOid(), der::kIA5String, "com") +
      Rdn(TypeEmailAddressOid(), der::kIA5String, "ignored@example.com") +
      Rdn(TypeCommonNameOid(), der::kUtf8String, "") +
      Rdn(TypeCommonNameOid(), der::kUtf8String, "First") +
      // Not decoded once the field is filled, so its bad value is harmless.
      Rdn(TypeCommonNameOid(), der::kPrintableString, "bad@value"));
  CertPrincipal principal;
  ASSERT_TRUE(principal.ParseFromName(der::Input(name),
                                      PrintableStringHandling::kStrict));
  EXPECT_EQ("US", principal.country_name);
  EXPECT_EQ("State", principal.state_or_province_name);
  EXPECT_EQ("Town", principal.locality_name);
  EXPECT_EQ(std::vector<std::string>{"1 Road"}, principal.street_addresses);
  EXPECT_EQ((std::vector<std::string>{"Org A", "Org B"}),
            principal.organization_names);
  EXPECT_EQ(std::vector<std::string>{"Unit"}, principal.organization_unit_names);
  EXPECT_EQ((std::vector<std::string>{"example", "com"}),
            principal.domain_components);
  EXPECT_EQ("First", principal.common_name);
  EXPECT_EQ("First", principal.DisplayName());

  CertPrincipal no_cn = principal;
  no_cn.common_name.clear();
  EXPECT_EQ("Org A", no_cn.DisplayName());
  no_cn.organization_names.clear();
  EXPECT_EQ("Unit", no_cn.DisplayName());
  no_cn.organization_unit_names.clear();
  EXPECT_EQ("", no_cn.DisplayName());
}

TEST(CertPrincipalTest, PrintableStringHandling) {
  const std::string name =
      Sequence(Rdn(TypeOrganizationNameOid(), der::kPrintableString, "a@b"));
  CertPrincipal strict;
  EXPECT_FALSE(strict.ParseFromName(der::Input(name),
                                    PrintableStringHandling::kStrict));
  CertPrincipal unchecked;
  ASSERT_TRUE(unchecked.ParseFromName(der::Input(name),
                                      PrintableStringHandling::kUnchecked));
  EXPECT_EQ(std::vector<std::string>{"a@b"}, unchecked.organization_names);
  CertPrincipal bad;
  EXPECT_FALSE(bad.ParseFromName(der::Input(std::string("\x30\x01")),
                                 PrintableStringHandling::kStrict));
}

}  // namespace
}  // namespace net
