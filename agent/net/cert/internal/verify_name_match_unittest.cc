#include "agent/net/cert/internal/verify_name_match.h"

#include <string>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/der_test_builder.h"
#include "agent/net/cert/internal/parse_name.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Attribute;
using test::Hex;
using test::Set;
using test::Tlv;

std::string Cn(der::Tag tag, std::string_view value) {
  return Attribute(TypeCommonNameOid(), tag, value);
}
std::string C(std::string_view value) {
  return Attribute(TypeCountryNameOid(), der::kPrintableString, value);
}
std::string O(std::string_view value) {
  return Attribute(TypeOrganizationNameOid(), der::kUtf8String, value);
}

TEST(NormalizeDirectoryStringTest, Cases) {
  struct Case {
    CharsetEnforcement charset;
    std::string in;
    bool ok;
    std::string out;
  } cases[] = {
      {ENFORCE_PRINTABLE_STRING, "  Example   CA ", true, "example ca"},
      {NO_ENFORCEMENT, "  Example   CA ", true, "example ca"},
      {NO_ENFORCEMENT, "   ", true, ""},
      {NO_ENFORCEMENT, "", true, ""},
      {NO_ENFORCEMENT, "a b", true, "a b"},
      // Only the space byte collapses; a tab is kept like any other byte.
      {NO_ENFORCEMENT, "a\t\tb", true, "a\t\tb"},
      // Only ASCII letters fold; UTF-8 of other scripts passes unchanged.
      {NO_ENFORCEMENT, "\xc3\x89t\xc3\xa9 ABC", true, "\xc3\x89t\xc3\xa9 abc"},
      {ENFORCE_ASCII, "Mail@Example.COM", true, "mail@example.com"},
      {ENFORCE_ASCII, "caf\xc3\xa9", false, ""},
      {ENFORCE_ASCII, "\x7f", true, "\x7f"},
      {ENFORCE_PRINTABLE_STRING, "A'()*+,-./09:=?Z", true, "a'()*+,-./09:=?z"},
      {ENFORCE_PRINTABLE_STRING, "a@b", false, ""},
      {ENFORCE_PRINTABLE_STRING, "a_b", false, ""},
      {ENFORCE_PRINTABLE_STRING, "a&b", false, ""},
      {ENFORCE_PRINTABLE_STRING, "a\tb", false, ""},
      {ENFORCE_PRINTABLE_STRING, "caf\xc3\xa9", false, ""},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    EXPECT_EQ(c.ok, NormalizeDirectoryString(c.charset, &s))
        << "'" << c.in << "' " << c.charset;
    if (c.ok) {
      EXPECT_EQ(c.out, s) << "'" << c.in << "'";
    }
  }
}

TEST(NormalizeAttributeValueTest, ValuesAndErrors) {
  struct Case {
    const char* what;
    der::Tag tag;
    std::string value;
    bool ok;
    std::string normalized_or_errors;
  } cases[] = {
      {"PrintableString", der::kPrintableString, "  Example   CA ", true,
       "example ca"},
      {"BMPString", der::kBmpString, Hex("0020 0041 00E9 0020"), true,
       "a\xc3\xa9"},
      {"UniversalString", der::kUniversalString, Hex("00000042 00000020"), true,
       "b"},
      {"IA5String", der::kIA5String, " A@B ", true, "a@b"},
      {"UTF8String", der::kUtf8String, "X\xe2\x82\xac", true, "x\xe2\x82\xac"},
      {"TeletexString", der::kTeletexString, "abc", false,
       "ERROR: Failed normalizing string\n  tag: 20\n"},
      {"PrintableString with an at sign", der::kPrintableString, "a@b", false,
       "ERROR: Failed normalizing string\n  tag: 19\n"},
      {"IA5String above ASCII", der::kIA5String, "\x80", false,
       "ERROR: Failed normalizing string\n  tag: 22\n"},
      {"broken BMPString", der::kBmpString, Hex("00"), false,
       "ERROR: Failed converting AttributeValue to string\n  tag: 30\n"},
      {"OCTET STRING", der::kOctetString, "abc", false,
       "ERROR: Failed converting AttributeValue to string\n  tag: 4\n"},
  };
  for (const Case& c : cases) {
    const X509NameAttribute attribute(TypeCommonNameOid(), c.tag,
                                      der::Input(c.value));
    std::string normalized;
    CertErrors errors;
    ASSERT_EQ(c.ok, NormalizeAttributeValue(attribute, &normalized, &errors))
        << c.what;
    if (c.ok) {
      EXPECT_EQ(c.normalized_or_errors, normalized) << c.what;
      EXPECT_EQ("", errors.ToDebugString()) << c.what;
    } else {
      EXPECT_EQ(c.normalized_or_errors, errors.ToDebugString()) << c.what;
    }
  }
}

TEST(NormalizeAttributeValueTest, NullErrorListIsAllowed) {
  const std::string value = "x";
  const X509NameAttribute attribute(TypeCommonNameOid(), der::kTeletexString,
                                    der::Input(value));
  std::string normalized;
  EXPECT_FALSE(NormalizeAttributeValue(attribute, &normalized, nullptr));
}

TEST(NormalizeNameTest, StringsBecomeNormalizedUtf8AndSetsAreSorted) {
  // One RDN whose attributes are out of DER order (the longer encoding
  // first), a BMPString, and a value that is not a string.
  const std::string input =
      Set(Attribute(TypeOrganizationNameOid(), der::kPrintableString,
                    "  Big   ORG ") +
          Cn(der::kBmpString, Hex("0041"))) +
      Set(Attribute(TypeCountryNameOid(), der::kOctetString, "AB"));
  const std::string expected =
      Set(Cn(der::kUtf8String, "a") +
          Attribute(TypeOrganizationNameOid(), der::kUtf8String, "big org")) +
      Set(Attribute(TypeCountryNameOid(), der::kOctetString, "AB"));
  std::string normalized;
  CertErrors errors;
  ASSERT_TRUE(NormalizeName(der::Input(input), &normalized, &errors));
  EXPECT_EQ("", errors.ToDebugString());
  EXPECT_EQ(expected, normalized);
}

// The normalized encoding is written by hand: lengths that need one or two
// long-form octets, and kept values whose tags need the high-number form,
// must come out as minimal DER.
TEST(NormalizeNameTest, LongValuesAndHighTagNumbersEncodeAsDer) {
  struct Case {
    const char* what;
    std::string input;
    std::string expected;
  } cases[] = {
      {"127-byte value", Set(Cn(der::kUtf8String, std::string(127, 'Q'))),
       Set(Cn(der::kUtf8String, std::string(127, 'q')))},
      {"128-byte value", Set(Cn(der::kPrintableString, std::string(128, 'Q'))),
       Set(Cn(der::kUtf8String, std::string(128, 'q')))},
      {"255-byte value", Set(Cn(der::kIA5String, std::string(255, 'Q'))),
       Set(Cn(der::kUtf8String, std::string(255, 'q')))},
      {"256-byte value", Set(Cn(der::kUtf8String, std::string(256, 'Q'))),
       Set(Cn(der::kUtf8String, std::string(256, 'q')))},
      {"70000-byte value", Set(Cn(der::kUtf8String, std::string(70000, 'Q'))),
       Set(Cn(der::kUtf8String, std::string(70000, 'q')))},
      {"tag number 31", Set(Cn(31, "Kept")), Set(Cn(31, "Kept"))},
      {"private tag number 1000", Set(Cn(der::kTagPrivate | 1000, "Kept")),
       Set(Cn(der::kTagPrivate | 1000, "Kept"))},
      {"context tag number 2^29 - 1",
       Set(Cn(der::kTagContextSpecific | der::kTagConstructed |
                  der::kTagNumberMask,
              "")),
       Set(Cn(der::kTagContextSpecific | der::kTagConstructed |
                  der::kTagNumberMask,
              ""))},
      {"three attributes sorted",
       Set(Cn(der::kUtf8String, "B") + Cn(der::kUtf8String, "A") +
           Cn(der::kUtf8String, std::string(200, 'A'))),
       // The long element's length octet 0x81 sorts it after 0x08.
       Set(Cn(der::kUtf8String, "a") + Cn(der::kUtf8String, "b") +
           Cn(der::kUtf8String, std::string(200, 'a')))},
  };
  for (const Case& c : cases) {
    std::string normalized;
    ASSERT_TRUE(NormalizeName(der::Input(c.input), &normalized, nullptr))
        << c.what;
    EXPECT_EQ(c.expected, normalized) << c.what;
  }
}

TEST(NormalizeNameTest, SpellingsOfOneNameNormalizeAlike) {
  const std::string a = Set(C("US")) + Set(O("Example  Inc"));
  const std::string b =
      Set(Attribute(TypeCountryNameOid(), der::kUtf8String, " us ")) +
      Set(Attribute(TypeOrganizationNameOid(), der::kBmpString,
                    Hex("0045 0058 0041 004D 0050 004C 0045 0020 0049 006E "
                        "0063")));
  std::string normalized_a, normalized_b;
  ASSERT_TRUE(NormalizeName(der::Input(a), &normalized_a, nullptr));
  ASSERT_TRUE(NormalizeName(der::Input(b), &normalized_b, nullptr));
  EXPECT_EQ(normalized_a, normalized_b);
}

TEST(NormalizeNameTest, Failures) {
  struct Case {
    const char* what;
    std::string input;
    std::string errors;
  } cases[] = {
      {"TeletexString", Set(Cn(der::kTeletexString, "x")),
       "ERROR: Failed normalizing string\n  tag: 20\n"},
      {"empty RDN", Set(C("US")) + Set(""), ""},
      {"RDN as a SEQUENCE", test::Sequence(C("US")), ""},
      {"truncated", Set(C("US")).substr(0, 5), ""},
  };
  for (const Case& c : cases) {
    std::string normalized;
    CertErrors errors;
    EXPECT_FALSE(NormalizeName(der::Input(c.input), &normalized, &errors))
        << c.what;
    EXPECT_EQ(c.errors, errors.ToDebugString()) << c.what;
  }
  std::string empty;
  EXPECT_TRUE(NormalizeName(der::Input(), &empty, nullptr));
  EXPECT_EQ("", empty);
}

TEST(MatchNamesTest, Cases) {
  const std::string us = Set(C("US"));
  const std::string x = Set(O("X"));
  const std::string y = Set(Cn(der::kUtf8String, "Y"));
  struct Case {
    const char* what;
    std::string name;
    std::string other;
    bool exact;
    bool subtree;
  } cases[] = {
      {"same name", us + x + y, us + x + y, true, true},
      {"other is a leading part of name", us + x + y, us + x, false, true},
      {"name is a leading part of other", us + x, us + x + y, false, false},
      {"empty other", us + x, "", false, true},
      {"both empty", "", "", true, true},
      {"same RDNs in another order", us + x, x + us, false, false},
      {"different value", us + x, us + Set(O("Z")), false, false},
      {"different type, same value", Set(O("X")),
       Set(Attribute(TypeOrganizationUnitNameOid(), der::kUtf8String, "X")),
       false, false},
      {"case and spaces differ", Set(O("  Big  Org")),
       Set(Attribute(TypeOrganizationNameOid(), der::kPrintableString,
                     "big org ")),
       true, true},
      {"string types differ", Set(Cn(der::kUtf8String, "A")),
       Set(Cn(der::kBmpString, Hex("0041"))), true, true},
      {"multi-valued RDN in another order", Set(C("US") + O("X")),
       Set(O("X") + C("US")), true, true},
      {"multi-valued RDN against a single one", Set(C("US") + O("X")),
       Set(C("US")), false, false},
      {"each attribute pairs with a distinct one",
       Set(Cn(der::kUtf8String, "a") + Cn(der::kUtf8String, "a")),
       Set(Cn(der::kUtf8String, "a") + Cn(der::kUtf8String, "b")), false,
       false},
      {"equal non-string values",
       Set(Attribute(TypeCommonNameOid(), der::kOctetString, "ab")),
       Set(Attribute(TypeCommonNameOid(), der::kOctetString, "ab")), true,
       true},
      {"non-string values of different tags",
       Set(Attribute(TypeCommonNameOid(), der::kOctetString, "ab")),
       Set(Attribute(TypeCommonNameOid(), der::kBitString, "ab")), false,
       false},
      {"a string and a non-string",
       Set(Attribute(TypeCommonNameOid(), der::kOctetString, "ab")),
       Set(Cn(der::kUtf8String, "ab")), false, false},
      // TeletexString cannot be normalized, so even equal bytes differ.
      {"equal TeletexStrings", Set(Cn(der::kTeletexString, "a")),
       Set(Cn(der::kTeletexString, "a")), false, false},
      {"PrintableString that does not normalize",
       Set(Cn(der::kPrintableString, "a@b")),
       Set(Cn(der::kPrintableString, "a@b")), false, false},
      {"unreadable name", us + "\x31", us, false, false},
      {"unreadable other", us, us + "\x31", false, false},
      {"empty RDN in name", us + Set(""), us + Set(""), false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.exact,
              MatchNames(der::Input(c.name), der::Input(c.other), kExactMatch))
        << c.what;
    EXPECT_EQ(c.subtree, MatchNames(der::Input(c.name), der::Input(c.other),
                                    kSubtreeMatch))
        << c.what;
    EXPECT_EQ(c.subtree, NameInSubtree(der::Input(c.name), der::Input(c.other)))
        << c.what;
  }
}

TEST(NameHasEmailAddressTest, Cases) {
  const std::string email = Set(
      Attribute(TypeEmailAddressOid(), der::kIA5String, "someone@example.com"));
  struct Case {
    const char* what;
    std::string name;
    bool parses;
    bool has_email;
  } cases[] = {
      {"no attributes", "", true, false},
      {"no email", Set(C("US")) + Set(O("X")), true, false},
      {"email in a later RDN", Set(C("US")) + email, true, true},
      {"email inside a multi-valued RDN",
       Set(C("US") + Attribute(TypeEmailAddressOid(), der::kIA5String, "a@b")),
       true, true},
      {"unreadable", Set(C("US")) + Set(""), false, false},
  };
  for (const Case& c : cases) {
    bool has_email = !c.has_email;
    ASSERT_EQ(c.parses, NameHasEmailAddress(der::Input(c.name), &has_email))
        << c.what;
    if (c.parses) {
      EXPECT_EQ(c.has_email, has_email) << c.what;
    }
  }
}

}  // namespace
}  // namespace net
