#include "agent/net/cert/internal/verify_name_match.h"

#include <openssl/bytestring.h>

#include <cstdint>
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
  CertErrors unused_errors;
  if (!errors) errors = &unused_errors;

  output->clear();
  if (!attribute.ValueAsStringUnchecked(output)) {
    errors->AddError(kFailedConvertingAttributeValue,
                     CreateCertErrorParams1SizeT("tag", attribute.value_tag));
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
    errors->AddError(kFailedNormalizingString,
                     CreateCertErrorParams1SizeT("tag", attribute.value_tag));
    return false;
  }
  return true;
}

bool NormalizeName(const der::Input& name_rdn_sequence, std::string* normalized,
                   CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors) errors = &unused_errors;

  bssl::ScopedCBB cbb;
  if (!CBB_init(cbb.get(), name_rdn_sequence.length())) return false;

  der::Parser rdn_sequence_parser(name_rdn_sequence);
  while (rdn_sequence_parser.HasMore()) {
    RelativeDistinguishedName rdn;
    if (!ReadNextRdn(&rdn_sequence_parser, &rdn)) return false;

    CBB rdn_cbb;
    if (!CBB_add_asn1(cbb.get(), &rdn_cbb, CBS_ASN1_SET)) return false;
    for (const X509NameAttribute& attribute : rdn) {
      CBB attribute_cbb, type_cbb, value_cbb;
      if (!CBB_add_asn1(&rdn_cbb, &attribute_cbb, CBS_ASN1_SEQUENCE) ||
          !CBB_add_asn1(&attribute_cbb, &type_cbb, CBS_ASN1_OBJECT) ||
          !CBB_add_bytes(&type_cbb, attribute.type.data(),
                         attribute.type.length())) {
        return false;
      }
      if (IsNormalizableDirectoryString(attribute.value_tag)) {
        std::string value;
        if (!NormalizeAttributeValue(attribute, &value, errors)) return false;
        if (!CBB_add_asn1(&attribute_cbb, &value_cbb, CBS_ASN1_UTF8STRING) ||
            !CBB_add_bytes(&value_cbb,
                           reinterpret_cast<const uint8_t*>(value.data()),
                           value.size())) {
          return false;
        }
      } else if (!CBB_add_asn1(&attribute_cbb, &value_cbb,
                               attribute.value_tag) ||
                 !CBB_add_bytes(&value_cbb, attribute.value.data(),
                                attribute.value.length())) {
        return false;
      }
      if (!CBB_flush(&rdn_cbb)) return false;
    }
    if (!CBB_flush_asn1_set_of(&rdn_cbb) || !CBB_flush(cbb.get())) {
      return false;
    }
  }

  normalized->assign(reinterpret_cast<const char*>(CBB_data(cbb.get())),
                     CBB_len(cbb.get()));
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
