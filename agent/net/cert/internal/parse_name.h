#ifndef AGENT_NET_CERT_INTERNAL_PARSE_NAME_H_
#define AGENT_NET_CERT_INTERNAL_PARSE_NAME_H_

// X.509 Names, read in two steps: a Name is split into its relative
// distinguished names (RDNs) and their attributes without interpreting any
// value; a value becomes UTF-8 text only when a caller asks for it.
//
// Everything here is a view into the caller's bytes, which must outlive the
// parsed attributes. Nothing allocates beyond the output vectors and strings,
// nothing logs, nothing reports errors: callers say what failed. No shared
// state; any thread may call anything.

#include <string>
#include <vector>

#include "agent/net/der/input.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"

namespace net {

// Value bytes (no tag, no length) of the attribute types callers look for.
der::Input TypeCommonNameOid();            // 2.5.4.3
der::Input TypeCountryNameOid();           // 2.5.4.6
der::Input TypeLocalityNameOid();          // 2.5.4.7
der::Input TypeStateOrProvinceNameOid();   // 2.5.4.8
der::Input TypeStreetAddressOid();         // 2.5.4.9
der::Input TypeOrganizationNameOid();      // 2.5.4.10
der::Input TypeOrganizationUnitNameOid();  // 2.5.4.11
der::Input TypeDomainComponentOid();       // 0.9.2342.19200300.100.1.25
der::Input TypeEmailAddressOid();          // 1.2.840.113549.1.9.1 (PKCS#9)

// How ValueAsStringWithHandling treats a PrintableString value.
enum class PrintableStringHandling {
  // Only the PrintableString alphabet is accepted.
  kStrict = 0,
  // The bytes are taken as they are, whatever they hold.
  kUnchecked = 1,
};

// One AttributeTypeAndValue of an RDN.
struct X509NameAttribute {
  X509NameAttribute(der::Input in_type, der::Tag in_value_tag,
                    der::Input in_value)
      : type(in_type), value_tag(in_value_tag), value(in_value) {}

  // The value as UTF-8, by its tag: UTF8String as is (not validated);
  // PrintableString when every byte is in its alphabet (letters, digits,
  // space and ' ( ) * + , - . / : = ?); TeletexString read as ISO 8859-1;
  // IA5String when all bytes are ASCII; UniversalString (UTF-32BE) and
  // BMPString (UTF-16BE, no surrogates) converted. Any other tag fails.
  // `out` should be empty; after a failure its content is unspecified.
  [[nodiscard]] bool ValueAsString(std::string* out) const;

  // ValueAsString, except that kUnchecked copies a PrintableString as is.
  [[nodiscard]] bool ValueAsStringWithHandling(PrintableStringHandling handling,
                                               std::string* out) const;

  // For normalization: UTF8String, PrintableString, TeletexString and
  // IA5String are copied without any character check or conversion;
  // UniversalString and BMPString are converted as by ValueAsString.
  [[nodiscard]] bool ValueAsStringUnchecked(std::string* out) const;

  // The OID's value bytes.
  der::Input type;
  der::Tag value_tag;
  // The value's contents (no tag, no length).
  der::Input value;
};

// An RDN's attributes in encoded order (the SET is not re-sorted).
using RelativeDistinguishedName = std::vector<X509NameAttribute>;
// The RDNs of a Name in encoded order.
using RDNSequence = std::vector<RelativeDistinguishedName>;

// Reads the contents of one RDN SET: each element a SEQUENCE of an OBJECT
// IDENTIFIER and one value of any tag, nothing more. Appends every attribute
// to `out`. True only when the whole SET was read and held at least one
// attribute.
[[nodiscard]] bool ReadRdn(der::Parser* parser, RelativeDistinguishedName* out);

// Reads the contents of a Name SEQUENCE (a sequence of RDN SETs) and appends
// its RDNs to `out`. Empty contents are an empty Name; an empty SET fails.
[[nodiscard]] bool ParseNameValue(const der::Input& name_value,
                                  RDNSequence* out);

// Reads a Name TLV: one SEQUENCE, whose contents go to ParseNameValue. Bytes
// after the SEQUENCE are not examined.
[[nodiscard]] bool ParseName(const der::Input& name_tlv, RDNSequence* out);

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_PARSE_NAME_H_
