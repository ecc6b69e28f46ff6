#include "agent/net/cert/internal/parse_name.h"

#include <optional>
#include <string>

#include "agent/net/cert/internal/der_test_builder.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Attribute;
using test::Hex;
using test::Sequence;
using test::Set;
using test::Tlv;

std::string Text(const der::Input& input) { return input.AsString(); }

TEST(ParseNameTest, RdnsAndAttributesKeepTheirEncodedOrder) {
  // C=US, then one RDN holding O=Org and CN=Name; the SET's elements are
  // deliberately not in DER SET OF order, which must be kept as it is.
  const std::string name = Sequence(
      Set(Attribute(TypeCountryNameOid(), der::kPrintableString, "US")) +
      Set(Attribute(TypeOrganizationNameOid(), der::kUtf8String, "Org") +
          Attribute(TypeCommonNameOid(), der::kPrintableString, "Name")));
  RDNSequence rdns;
  ASSERT_TRUE(ParseName(der::Input(name), &rdns));
  ASSERT_EQ(2u, rdns.size());
  ASSERT_EQ(1u, rdns[0].size());
  ASSERT_EQ(2u, rdns[1].size());
  EXPECT_EQ(TypeCountryNameOid(), rdns[0][0].type);
  EXPECT_EQ(der::kPrintableString, rdns[0][0].value_tag);
  EXPECT_EQ("US", Text(rdns[0][0].value));
  EXPECT_EQ(TypeOrganizationNameOid(), rdns[1][0].type);
  EXPECT_EQ(der::kUtf8String, rdns[1][0].value_tag);
  EXPECT_EQ("Org", Text(rdns[1][0].value));
  EXPECT_EQ(TypeCommonNameOid(), rdns[1][1].type);
  EXPECT_EQ("Name", Text(rdns[1][1].value));
}

TEST(ParseNameTest, ShapesOfNames) {
  const std::string cn = Attribute(TypeCommonNameOid(), der::kUtf8String, "x");
  struct Case {
    const char* what;
    std::string name_tlv;
    bool ok;
    size_t rdns;
  } cases[] = {
      {"empty name", Sequence(""), true, 0},
      {"bytes after the name are not read", Sequence(Set(cn)) + "\xff", true,
       1},
      {"empty RDN", Sequence(Set("")), false, 0},
      {"empty RDN after a good one", Sequence(Set(cn) + Set("")), false, 0},
      {"RDN as a SEQUENCE", Sequence(Sequence(cn)), false, 0},
      {"name as a SET", Set(Set(cn)), false, 0},
      {"attribute with a third element",
       Sequence(Set(Sequence(test::Oid(TypeCommonNameOid()) +
                             Tlv(der::kUtf8String, "x") +
                             Tlv(der::kUtf8String, "y")))),
       false, 0},
      {"attribute without a value",
       Sequence(Set(Sequence(test::Oid(TypeCommonNameOid())))), false, 0},
      {"attribute type not an OID",
       Sequence(Set(
           Sequence(Tlv(der::kInteger, "\x01") + Tlv(der::kUtf8String, "x")))),
       false, 0},
      {"attribute not a SEQUENCE",
       Sequence(Set(Tlv(der::kOid, "\x55\x04\x03"))), false, 0},
      {"value of any tag",
       Sequence(Set(Attribute(TypeCommonNameOid(), der::kOctetString, "x"))),
       true, 1},
      {"truncated", Sequence(Set(cn)).substr(0, 6), false, 0},
  };
  for (const Case& c : cases) {
    RDNSequence rdns;
    EXPECT_EQ(c.ok, ParseName(der::Input(c.name_tlv), &rdns)) << c.what;
    if (c.ok) {
      EXPECT_EQ(c.rdns, rdns.size()) << c.what;
    }
  }
}

TEST(ParseNameTest, ParseNameValueAppends) {
  const std::string value =
      Set(Attribute(TypeCommonNameOid(), der::kUtf8String, "second"));
  RDNSequence rdns(1);
  ASSERT_TRUE(ParseNameValue(der::Input(value), &rdns));
  ASSERT_EQ(2u, rdns.size());
  EXPECT_TRUE(rdns[0].empty());
  EXPECT_EQ("second", Text(rdns[1][0].value));
}

TEST(ParseNameTest, ReadRdnNeedsAnAttributeAndReadsTheWholeSet) {
  const std::string two =
      Attribute(TypeCommonNameOid(), der::kUtf8String, "a") +
      Attribute(TypeCountryNameOid(), der::kUtf8String, "b");
  RelativeDistinguishedName rdn;
  der::Parser parser{der::Input(two)};
  ASSERT_TRUE(ReadRdn(&parser, &rdn));
  EXPECT_EQ(2u, rdn.size());
  EXPECT_FALSE(parser.HasMore());

  der::Parser empty;
  RelativeDistinguishedName none;
  EXPECT_FALSE(ReadRdn(&empty, &none));
}

// Conversions of one value by each of the three converters; nullopt is a
// failure.
struct ConversionCase {
  const char* what;
  der::Tag tag;
  std::string value;
  std::optional<std::string> strict;
  std::optional<std::string> printable_unchecked;
  std::optional<std::string> unchecked;
};

TEST(ParseNameTest, ValueConversions) {
  const std::nullopt_t fails = std::nullopt;
  const ConversionCase cases[] = {
      {"UTF8String is not validated", der::kUtf8String, "a\xff", "a\xff",
       "a\xff", "a\xff"},
      {"PrintableString with an asterisk", der::kPrintableString, "A*B", "A*B",
       "A*B", "A*B"},
      {"PrintableString alphabet", der::kPrintableString,
       "az AZ 09 '()+,-./:=?", "az AZ 09 '()+,-./:=?", "az AZ 09 '()+,-./:=?",
       "az AZ 09 '()+,-./:=?"},
      {"PrintableString with an at sign", der::kPrintableString, "a@b", fails,
       "a@b", "a@b"},
      {"PrintableString with an underscore", der::kPrintableString, "a_b",
       fails, "a_b", "a_b"},
      {"TeletexString is Latin-1", der::kTeletexString, "caf\xe9",
       "caf\xc3\xa9", "caf\xc3\xa9", "caf\xe9"},
      {"TeletexString top byte", der::kTeletexString, "\xff", "\xc3\xbf",
       "\xc3\xbf", "\xff"},
      {"IA5String", der::kIA5String, "a@b", "a@b", "a@b", "a@b"},
      {"IA5String above ASCII", der::kIA5String, "a\x80", fails, fails,
       "a\x80"},
      {"UniversalString", der::kUniversalString, Hex("00000041"), "A", "A",
       "A"},
      {"UniversalString outside the basic plane", der::kUniversalString,
       Hex("0001F600 0010FFFD"), "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbd",
       "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbd", "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbd"},
      {"UniversalString surrogate", der::kUniversalString, Hex("0000D800"),
       fails, fails, fails},
      {"UniversalString past the last plane", der::kUniversalString,
       Hex("00110000"), fails, fails, fails},
      {"UniversalString noncharacter FDD0", der::kUniversalString,
       Hex("0000FDD0"), fails, fails, fails},
      {"UniversalString noncharacter FDEF", der::kUniversalString,
       Hex("0000FDEF"), fails, fails, fails},
      {"UniversalString noncharacter FFFE", der::kUniversalString,
       Hex("0000FFFE"), fails, fails, fails},
      {"UniversalString noncharacter 1FFFF", der::kUniversalString,
       Hex("0001FFFF"), fails, fails, fails},
      {"UniversalString just after the surrogates", der::kUniversalString,
       Hex("0000E000"), "\xee\x80\x80", "\xee\x80\x80", "\xee\x80\x80"},
      {"UniversalString of 6 bytes", der::kUniversalString, Hex("000000410000"),
       fails, fails, fails},
      {"BMPString", der::kBmpString, Hex("00410042"), "AB", "AB", "AB"},
      {"BMPString outside ASCII", der::kBmpString, Hex("00E9 20AC"),
       "\xc3\xa9\xe2\x82\xac", "\xc3\xa9\xe2\x82\xac", "\xc3\xa9\xe2\x82\xac"},
      {"BMPString surrogate pair", der::kBmpString, Hex("D83DDE00"), fails,
       fails, fails},
      {"BMPString of 3 bytes", der::kBmpString, Hex("004100"), fails, fails,
       fails},
      {"empty BMPString", der::kBmpString, "", "", "", ""},
      {"OCTET STRING", der::kOctetString, "abc", fails, fails, fails},
      {"VisibleString", der::kVisibleString, "abc", fails, fails, fails},
  };
  for (const ConversionCase& c : cases) {
    const X509NameAttribute attribute(TypeCommonNameOid(), c.tag,
                                      der::Input(c.value));
    std::string out;
    const bool strict_ok = attribute.ValueAsString(&out);
    EXPECT_EQ(c.strict.has_value(), strict_ok) << c.what;
    if (strict_ok && c.strict) {
      EXPECT_EQ(*c.strict, out) << c.what;
    }

    out.clear();
    const bool handling_ok = attribute.ValueAsStringWithHandling(
        PrintableStringHandling::kUnchecked, &out);
    EXPECT_EQ(c.printable_unchecked.has_value(), handling_ok) << c.what;
    if (handling_ok && c.printable_unchecked) {
      EXPECT_EQ(*c.printable_unchecked, out) << c.what;
    }

    out.clear();
    const bool unchecked_ok = attribute.ValueAsStringUnchecked(&out);
    EXPECT_EQ(c.unchecked.has_value(), unchecked_ok) << c.what;
    if (unchecked_ok && c.unchecked) {
      EXPECT_EQ(*c.unchecked, out) << c.what;
    }

    // Strict handling is ValueAsString itself.
    std::string strict_again;
    EXPECT_EQ(strict_ok, attribute.ValueAsStringWithHandling(
                             PrintableStringHandling::kStrict, &strict_again))
        << c.what;
  }
}

TEST(ParseNameTest, AttributeTypeOidsSpellTheirDottedForms) {
  struct Case {
    der::Input oid;
    const char* dotted;
  } cases[] = {
      {TypeCommonNameOid(), "2.5.4.3"},
      {TypeCountryNameOid(), "2.5.4.6"},
      {TypeLocalityNameOid(), "2.5.4.7"},
      {TypeStateOrProvinceNameOid(), "2.5.4.8"},
      {TypeStreetAddressOid(), "2.5.4.9"},
      {TypeOrganizationNameOid(), "2.5.4.10"},
      {TypeOrganizationUnitNameOid(), "2.5.4.11"},
      {TypeDomainComponentOid(), "0.9.2342.19200300.100.1.25"},
      {TypeEmailAddressOid(), "1.2.840.113549.1.9.1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.dotted, test::OidToText(c.oid));
  }
}

}  // namespace
}  // namespace net
