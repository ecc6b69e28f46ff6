#include "agent/net/cert/internal/parse_name.h"

#include <cstdint>
#include <string>
#include <utility>

#include "agent/base/strings/utf8.h"
#include "agent/base/strings/utf_string_conversions.h"

namespace net {

namespace {

constexpr uint8_t kTypeCommonNameOid[] = {0x55, 0x04, 0x03};
constexpr uint8_t kTypeCountryNameOid[] = {0x55, 0x04, 0x06};
constexpr uint8_t kTypeLocalityNameOid[] = {0x55, 0x04, 0x07};
constexpr uint8_t kTypeStateOrProvinceNameOid[] = {0x55, 0x04, 0x08};
constexpr uint8_t kTypeStreetAddressOid[] = {0x55, 0x04, 0x09};
constexpr uint8_t kTypeOrganizationNameOid[] = {0x55, 0x04, 0x0a};
constexpr uint8_t kTypeOrganizationUnitNameOid[] = {0x55, 0x04, 0x0b};
constexpr uint8_t kTypeDomainComponentOid[] = {0x09, 0x92, 0x26, 0x89, 0x93,
                                               0xf2, 0x2c, 0x64, 0x01, 0x19};
constexpr uint8_t kTypeEmailAddressOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                            0x0d, 0x01, 0x09, 0x01};

bool IsPrintableStringByte(uint8_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
      (c >= '0' && c <= '9')) {
    return true;
  }
  switch (c) {
    case ' ':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case '=':
    case '?':
      return true;
    default:
      return false;
  }
}

bool PrintableStringToString(const der::Input& value, std::string* out) {
  for (uint8_t c : value.AsSpan()) {
    if (!IsPrintableStringByte(c)) return false;
  }
  *out = value.AsString();
  return true;
}

// Each byte is an ISO 8859-1 character, which is its own code point.
void Latin1ToUtf8(const der::Input& value, std::string* out) {
  out->clear();
  out->reserve(value.length() * 2);
  for (uint8_t c : value.AsSpan()) {
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else {
      out->push_back(static_cast<char>(0xc0 + (c >> 6)));
      out->push_back(static_cast<char>(0x80 + (c & 0x3f)));
    }
  }
}

bool IA5StringToString(const der::Input& value, std::string* out) {
  for (uint8_t c : value.AsSpan()) {
    if (c >= 0x80) return false;
  }
  *out = value.AsString();
  return true;
}

// Scalar values only, and none of the noncharacters.
bool IsValidUniversalCodePoint(uint32_t c) {
  if (c >= 0xd800 && c < 0xe000) return false;
  if (c > 0x10ffff) return false;
  if (c >= 0xfdd0 && c <= 0xfdef) return false;
  if ((c & 0xfffe) == 0xfffe) return false;
  return true;
}

bool UniversalStringToUtf8(const der::Input& value, std::string* out) {
  if (value.length() % 4 != 0) return false;
  const uint8_t* p = value.data();
  for (size_t i = 0; i < value.length(); i += 4) {
    const uint32_t c = (uint32_t{p[i]} << 24) | (uint32_t{p[i + 1]} << 16) |
                       (uint32_t{p[i + 2]} << 8) | uint32_t{p[i + 3]};
    if (!IsValidUniversalCodePoint(c)) return false;
    kelmbase::AppendUtf8CodePoint(c, out);
  }
  return true;
}

bool BmpStringToUtf8(const der::Input& value, std::string* out) {
  if (value.length() % 2 != 0) return false;
  std::u16string units;
  units.reserve(value.length() / 2);
  const uint8_t* p = value.data();
  for (size_t i = 0; i < value.length(); i += 2) {
    const char16_t unit = static_cast<char16_t>((p[i] << 8) | p[i + 1]);
    // A BMPString holds characters of the basic plane only; surrogates,
    // even paired, have no place in it.
    if (unit >= 0xd800 && unit < 0xe000) return false;
    units.push_back(unit);
  }
  return kelmbase::Utf16ToUtf8(units, out);
}

}  // namespace

der::Input TypeCommonNameOid() { return der::Input(kTypeCommonNameOid); }
der::Input TypeCountryNameOid() { return der::Input(kTypeCountryNameOid); }
der::Input TypeLocalityNameOid() { return der::Input(kTypeLocalityNameOid); }
der::Input TypeStateOrProvinceNameOid() {
  return der::Input(kTypeStateOrProvinceNameOid);
}
der::Input TypeStreetAddressOid() { return der::Input(kTypeStreetAddressOid); }
der::Input TypeOrganizationNameOid() {
  return der::Input(kTypeOrganizationNameOid);
}
der::Input TypeOrganizationUnitNameOid() {
  return der::Input(kTypeOrganizationUnitNameOid);
}
der::Input TypeDomainComponentOid() {
  return der::Input(kTypeDomainComponentOid);
}
der::Input TypeEmailAddressOid() { return der::Input(kTypeEmailAddressOid); }

bool X509NameAttribute::ValueAsString(std::string* out) const {
  switch (value_tag) {
    case der::kUtf8String:
      *out = value.AsString();
      return true;
    case der::kPrintableString:
      return PrintableStringToString(value, out);
    case der::kTeletexString:
      Latin1ToUtf8(value, out);
      return true;
    case der::kIA5String:
      return IA5StringToString(value, out);
    case der::kUniversalString:
      return UniversalStringToUtf8(value, out);
    case der::kBmpString:
      return BmpStringToUtf8(value, out);
    default:
      return false;
  }
}

bool X509NameAttribute::ValueAsStringWithHandling(
    PrintableStringHandling handling, std::string* out) const {
  if (handling == PrintableStringHandling::kUnchecked &&
      value_tag == der::kPrintableString) {
    *out = value.AsString();
    return true;
  }
  return ValueAsString(out);
}

bool X509NameAttribute::ValueAsStringUnchecked(std::string* out) const {
  switch (value_tag) {
    case der::kUtf8String:
    case der::kPrintableString:
    case der::kTeletexString:
    case der::kIA5String:
      *out = value.AsString();
      return true;
    case der::kUniversalString:
      return UniversalStringToUtf8(value, out);
    case der::kBmpString:
      return BmpStringToUtf8(value, out);
    default:
      return false;
  }
}

bool ReadRdn(der::Parser* parser, RelativeDistinguishedName* out) {
  bool read_any = false;
  while (parser->HasMore()) {
    der::Parser attribute_parser;
    if (!parser->ReadSequence(&attribute_parser)) return false;
    der::Input type;
    if (!attribute_parser.ReadValueWithTag(der::kOid, &type)) return false;
    der::Tag value_tag;
    der::Input value;
    if (!attribute_parser.ReadElement(&value_tag, &value)) return false;
    if (attribute_parser.HasMore()) return false;
    out->emplace_back(type, value_tag, value);
    read_any = true;
  }
  return read_any;
}

bool ParseNameValue(const der::Input& name_value, RDNSequence* out) {
  der::Parser rdn_sequence_parser(name_value);
  while (rdn_sequence_parser.HasMore()) {
    der::Parser rdn_parser;
    if (!rdn_sequence_parser.ReadConstructed(der::kSet, &rdn_parser)) {
      return false;
    }
    RelativeDistinguishedName rdn;
    if (!ReadRdn(&rdn_parser, &rdn)) return false;
    out->push_back(std::move(rdn));
  }
  return true;
}

bool ParseName(const der::Input& name_tlv, RDNSequence* out) {
  der::Parser name_parser(name_tlv);
  der::Input name_value;
  if (!name_parser.ReadValueWithTag(der::kSequence, &name_value)) return false;
  return ParseNameValue(name_value, out);
}

}  // namespace net
