#include "agent/net/cert/internal/verify_name_match.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/parse_name.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"

namespace net {

namespace {

const char kFailedConvertingAttributeValue[] =
    "Failed converting AttributeValue to string";
const char kFailedNormalizingString[] = "Failed normalizing string";

// The value tags whose contents are text to be normalized before comparing.
bool IsNormalizableDirectoryString(der::Tag tag) {
  switch (tag) {
    case der::kUtf8String:
    case der::kPrintableString:
    case der::kTeletexString:
    case der::kIA5String:
    case der::kUniversalString:
    case der::kBmpString:
      return true;
    default:
      return false;
  }
}

bool IsPrintableStringAfterLowering(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '\'' && c <= ':') || c == '=' ||
         c == '?';
}

// Whether two attributes of equal type hold equal values.
bool AttributeValuesMatch(const X509NameAttribute& a,
                          const X509NameAttribute& b) {
  if (IsNormalizableDirectoryString(a.value_tag) &&
      IsNormalizableDirectoryString(b.value_tag)) {
    std::string a_normalized, b_normalized;
    if (!NormalizeAttributeValue(a, &a_normalized, nullptr) ||
        !NormalizeAttributeValue(b, &b_normalized, nullptr)) {
      return false;
    }
    return a_normalized == b_normalized;
  }
  return a.value_tag == b.value_tag && a.value == b.value;
}

// Whether every attribute of `a` pairs with a distinct one of `b`.
bool RdnsMatch(const RelativeDistinguishedName& a,
               RelativeDistinguishedName b) {
  if (a.size() != b.size()) return false;
  for (const X509NameAttribute& attribute : a) {
    auto match = b.begin();
    for (; match != b.end(); ++match) {
      if (attribute.type == match->type &&
          AttributeValuesMatch(attribute, *match)) {
        break;
      }
    }
    if (match == b.end()) return false;
    b.erase(match);
  }
  return true;
}

// Counts the RDN SETs of an RDN sequence, without reading inside them.
bool CountRdns(const der::Input& rdn_sequence, size_t* count) {
  der::Parser parser(rdn_sequence);
  *count = 0;
  while (parser.HasMore()) {
    if (!parser.SkipValueWithTag(der::kSet)) return false;
    ++*count;
  }
  return true;
}

bool ReadNextRdn(der::Parser* rdn_sequence_parser,
                 RelativeDistinguishedName* rdn) {
  der::Parser rdn_parser;
  return rdn_sequence_parser->ReadConstructed(der::kSet, &rdn_parser) &&
         ReadRdn(&rdn_parser, rdn);
}

// Appends the DER identifier octets of `tag`: the low-number form below 31,
// else 0x1F and the number in base 128 with no leading 0x80 octet.
void AppendDerIdentifier(der::Tag tag, std::string* out) {
  const uint8_t leading = static_cast<uint8_t>((tag >> 24) & 0xE0);
  const der::Tag number = tag & der::kTagNumberMask;
  if (number < 0x1F) {
    out->push_back(static_cast<char>(leading | number));
    return;
  }
  out->push_back(static_cast<char>(leading | 0x1F));
  int shift = 28;
  while (shift > 0 && (number >> shift) == 0) shift -= 7;
  for (; shift > 0; shift -= 7) {
    out->push_back(static_cast<char>(0x80 | ((number >> shift) & 0x7F)));
  }
  out->push_back(static_cast<char>(number & 0x7F));
}

// Appends a DER element: identifier, minimal definite length, contents.
void AppendDerElement(der::Tag tag, std::string_view contents,
                      std::string* out) {
  AppendDerIdentifier(tag, out);
  const size_t length = contents.size();
  if (length < 0x80) {
    out->push_back(static_cast<char>(length));
  } else {
    int octets = 0;
    for (size_t rest = length; rest != 0; rest >>= 8) ++octets;
    out->push_back(static_cast<char>(0x80 | octets));
    for (int i = octets - 1; i >= 0; --i) {
      out->push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
    }
  }
  out->append(contents);
}

// Appends the normalized AttributeTypeAndValue SEQUENCE of `attribute`.
// `value` and `contents` are scratch space, kept by the caller so their
// buffers serve every attribute of a name.
bool AppendNormalizedAttribute(const X509NameAttribute& attribute,
                               std::string* value, std::string* contents,
                               std::string* out, CertErrors* errors) {
  contents->clear();
  AppendDerElement(der::kOid, attribute.type.AsStringView(), contents);
  if (IsNormalizableDirectoryString(attribute.value_tag)) {
    if (!NormalizeAttributeValue(attribute, value, errors)) return false;
    AppendDerElement(der::kUtf8String, *value, contents);
  } else {
    AppendDerElement(attribute.value_tag, attribute.value.AsStringView(),
                     contents);
  }
  AppendDerElement(der::kSequence, *contents, out);
  return true;
}

}  // namespace

bool NormalizeDirectoryString(CharsetEnforcement charset, std::string* output) {
  std::string& s = *output;
  size_t read = 0;
  while (read < s.size() && s[read] == ' ') ++read;
  size_t write = 0;
  for (; read < s.size(); ++read) {
    char c = s[read];
    if (c == ' ') {
      if (read + 1 < s.size() && s[read + 1] != ' ') s[write++] = ' ';
      continue;
    }
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    } else if (charset == ENFORCE_ASCII &&
               static_cast<unsigned char>(c) >= 0x80) {
      return false;
    } else if (charset == ENFORCE_PRINTABLE_STRING &&
               !IsPrintableStringAfterLowering(c)) {
      return false;
    }
    s[write++] = c;
  }
  s.resize(write);
  return true;
}

bool NormalizeAttributeValue(const X509NameAttribute& attribute,
                             std::string* output, CertErrors* errors) {
  output->clear();
  bool converted;
  switch (attribute.value_tag) {
    case der::kUtf8String:
    case der::kPrintableString:
    case der::kTeletexString:
    case der::kIA5String:
      // Copied as they are, into the caller's buffer.
      output->assign(attribute.value.AsStringView());
      converted = true;
      break;
    default:
      converted = attribute.ValueAsStringUnchecked(output);
      break;
  }
  if (!converted) {
    if (errors) {
      errors->AddError(kFailedConvertingAttributeValue,
                       CreateCertErrorParams1SizeT("tag", attribute.value_tag));
    }
    return false;
  }

  bool normalized = false;
  switch (attribute.value_tag) {
    case der::kUtf8String:
    case der::kUniversalString:
    case der::kBmpString:
      normalized = NormalizeDirectoryString(NO_ENFORCEMENT, output);
      break;
    case der::kPrintableString:
      normalized = NormalizeDirectoryString(ENFORCE_PRINTABLE_STRING, output);
      break;
    case der::kIA5String:
      normalized = NormalizeDirectoryString(ENFORCE_ASCII, output);
      break;
    default:
      // TeletexString has no agreed character set to normalize from.
      break;
  }
  if (!normalized) {
    if (errors) {
      errors->AddError(kFailedNormalizingString,
                       CreateCertErrorParams1SizeT("tag", attribute.value_tag));
    }
    return false;
  }
  return true;
}

bool NormalizeName(const der::Input& name_rdn_sequence, std::string* normalized,
                   CertErrors* errors) {
  std::string out;
  out.reserve(name_rdn_sequence.length());
  // Reused for every RDN and attribute, so a name costs a handful of
  // allocations however many attributes it has.
  RelativeDistinguishedName rdn;
  std::string value;
  std::string contents;
  std::string element;
  std::vector<std::string> set_elements;

  der::Parser rdn_sequence_parser(name_rdn_sequence);
  while (rdn_sequence_parser.HasMore()) {
    rdn.clear();
    if (!ReadNextRdn(&rdn_sequence_parser, &rdn)) return false;

    element.clear();
    if (rdn.size() == 1) {
      // A SET OF one element needs no sorting.
      if (!AppendNormalizedAttribute(rdn[0], &value, &contents, &element,
                                     errors)) {
        return false;
      }
      AppendDerElement(der::kSet, element, &out);
      continue;
    }

    // DER orders the elements of a SET OF by their encodings as octet
    // strings. Two distinct complete elements never differ only by trailing
    // zero octets, so plain lexicographic order is that order.
    set_elements.resize(rdn.size());
    for (size_t i = 0; i < rdn.size(); ++i) {
      set_elements[i].clear();
      if (!AppendNormalizedAttribute(rdn[i], &value, &contents,
                                     &set_elements[i], errors)) {
        return false;
      }
    }
    std::sort(set_elements.begin(), set_elements.end());
    for (const std::string& set_element : set_elements) element += set_element;
    AppendDerElement(der::kSet, element, &out);
  }

  *normalized = std::move(out);
  return true;
}

bool MatchNames(const der::Input& name, const der::Input& other,
                NameMatchType match_type) {
  size_t name_rdns = 0;
  size_t other_rdns = 0;
  if (!CountRdns(name, &name_rdns) || !CountRdns(other, &other_rdns)) {
    return false;
  }
  if (other_rdns > name_rdns) return false;
  if (match_type == kExactMatch && name_rdns != other_rdns) return false;

  der::Parser name_parser(name);
  der::Parser other_parser(other);
  for (size_t i = 0; i < other_rdns; ++i) {
    RelativeDistinguishedName name_rdn, other_rdn;
    if (!ReadNextRdn(&name_parser, &name_rdn) ||
        !ReadNextRdn(&other_parser, &other_rdn)) {
      return false;
    }
    if (!RdnsMatch(name_rdn, std::move(other_rdn))) return false;
  }
  return true;
}

bool NameInSubtree(const der::Input& name, const der::Input& parent) {
  return MatchNames(name, parent, kSubtreeMatch);
}

bool NameHasEmailAddress(const der::Input& name_rdn_sequence,
                         bool* contained_email_address) {
  RDNSequence rdns;
  if (!ParseNameValue(name_rdn_sequence, &rdns)) return false;
  *contained_email_address = false;
  for (const RelativeDistinguishedName& rdn : rdns) {
    for (const X509NameAttribute& attribute : rdn) {
      if (attribute.type == TypeEmailAddressOid()) {
        *contained_email_address = true;
        return true;
      }
    }
  }
  return true;
}

}  // namespace net
