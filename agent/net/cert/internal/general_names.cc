#include "agent/net/cert/internal/general_names.h"

#include <cstring>

#include "agent/base/strings/string_util.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/common_cert_errors.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"

namespace net {

namespace {

const char kRFC822NameNotAscii[] = "rfc822Name is not ASCII";
const char kDnsNameNotAscii[] = "dNSName is not ASCII";
const char kURINotAscii[] = "uniformResourceIdentifier is not ASCII";
const char kFailedParsingIp[] = "Failed parsing iPAddress";
const char kUnknownGeneralNameType[] = "Unknown GeneralName type";
const char kFailedReadingGeneralNames[] =
    "Failed reading GeneralNames SEQUENCE";
const char kGeneralNamesTrailingData[] =
    "GeneralNames contains trailing data after the sequence";
const char kGeneralNamesEmpty[] = "GeneralNames is a sequence of 0 elements";
const char kFailedReadingGeneralName[] = "Failed reading GeneralName TLV";

// Reads a text form, which must be ASCII.
bool ReadAsciiName(const der::Input& value, CertErrorId not_ascii_error,
                   std::vector<std::string_view>* names, CertErrors* errors) {
  const std::string_view name = value.AsStringView();
  if (!kelmbase::IsAscii(name)) {
    errors->AddError(not_ascii_error);
    return false;
  }
  names->push_back(name);
  return true;
}

// Whether `mask` is a run of `prefix_length` one bits and then only zeros.
bool IsContiguousNetmask(const IPAddress& mask, size_t prefix_length) {
  for (size_t i = 0; i < mask.size(); ++i) {
    const size_t bits_before = i * 8;
    uint8_t expected = 0;
    if (prefix_length >= bits_before + 8) {
      expected = 0xff;
    } else if (prefix_length > bits_before) {
      expected =
          static_cast<uint8_t>(0xff << (8 - (prefix_length - bits_before)));
    }
    if (mask.bytes()[i] != expected) return false;
  }
  return true;
}

bool ReadIpAddress(const der::Input& value, GeneralNameIpMode ip_mode,
                   GeneralNames* subtrees) {
  if (ip_mode == ADDRESS_ONLY) {
    if (value.length() != IPAddress::kIPv4AddressSize &&
        value.length() != IPAddress::kIPv6AddressSize) {
      return false;
    }
    subtrees->ip_addresses.emplace_back(value.data(), value.length());
    return true;
  }

  if (value.length() != IPAddress::kIPv4AddressSize * 2 &&
      value.length() != IPAddress::kIPv6AddressSize * 2) {
    return false;
  }
  const size_t half = value.length() / 2;
  const IPAddress address(value.data(), half);
  const IPAddress mask(value.data() + half, half);
  const size_t prefix_length = MaskPrefixBits(mask);
  if (!IsContiguousNetmask(mask, prefix_length)) return false;
  subtrees->ip_address_ranges.emplace_back(
      address, static_cast<unsigned>(prefix_length));
  return true;
}

// Contents of a directoryName: exactly one Name SEQUENCE; its contents are
// the name.
bool ReadDirectoryName(const der::Input& value, der::Input* name) {
  der::Parser parser(value);
  return parser.ReadValueWithTag(der::kSequence, name) && !parser.HasMore();
}

}  // namespace

GeneralNames::GeneralNames() = default;
GeneralNames::~GeneralNames() = default;

std::unique_ptr<GeneralNames> ParseGeneralNames(
    const der::Input& general_names_tlv, CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors) errors = &unused_errors;

  der::Parser parser(general_names_tlv);
  der::Input sequence_value;
  if (!parser.ReadValueWithTag(der::kSequence, &sequence_value)) {
    errors->AddError(kFailedReadingGeneralNames);
    return nullptr;
  }
  if (parser.HasMore()) {
    errors->AddError(kGeneralNamesTrailingData);
    return nullptr;
  }
  return ParseGeneralNamesValue(sequence_value, errors);
}

std::unique_ptr<GeneralNames> ParseGeneralNamesValue(
    const der::Input& general_names_value, CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors) errors = &unused_errors;

  // GeneralNames ::= SEQUENCE SIZE (1..MAX) OF GeneralName
  der::Parser sequence_parser(general_names_value);
  if (!sequence_parser.HasMore()) {
    errors->AddError(kGeneralNamesEmpty);
    return nullptr;
  }

  auto general_names = std::make_unique<GeneralNames>();
  while (sequence_parser.HasMore()) {
    der::Input raw_general_name;
    if (!sequence_parser.ReadRawElement(&raw_general_name)) {
      errors->AddError(kFailedReadingGeneralName);
      return nullptr;
    }
    if (!ParseGeneralName(raw_general_name, ADDRESS_ONLY, general_names.get(),
                          errors)) {
      errors->AddError(cert_errors::kFailedParsingGeneralName);
      return nullptr;
    }
  }
  return general_names;
}

bool ParseGeneralName(const der::Input& input, GeneralNameIpMode ip_mode,
                      GeneralNames* subtrees, CertErrors* errors) {
  CertErrors unused_errors;
  if (!errors) errors = &unused_errors;

  der::Parser parser(input);
  der::Tag tag;
  der::Input value;
  if (!parser.ReadElement(&tag, &value)) return false;

  GeneralNameTypes name_type = GENERAL_NAME_NONE;
  if (tag == der::ContextSpecificConstructed(0)) {
    // otherName [0] OtherName
    name_type = GENERAL_NAME_OTHER_NAME;
    subtrees->other_names.push_back(value);
  } else if (tag == der::ContextSpecificPrimitive(1)) {
    // rfc822Name [1] IA5String
    name_type = GENERAL_NAME_RFC822_NAME;
    if (!ReadAsciiName(value, kRFC822NameNotAscii, &subtrees->rfc822_names,
                       errors)) {
      return false;
    }
  } else if (tag == der::ContextSpecificPrimitive(2)) {
    // dNSName [2] IA5String
    name_type = GENERAL_NAME_DNS_NAME;
    if (!ReadAsciiName(value, kDnsNameNotAscii, &subtrees->dns_names, errors)) {
      return false;
    }
  } else if (tag == der::ContextSpecificConstructed(3)) {
    // x400Address [3] ORAddress
    name_type = GENERAL_NAME_X400_ADDRESS;
    subtrees->x400_addresses.push_back(value);
  } else if (tag == der::ContextSpecificConstructed(4)) {
    // directoryName [4] Name; the tag is explicit, since Name is a CHOICE.
    name_type = GENERAL_NAME_DIRECTORY_NAME;
    der::Input name;
    if (!ReadDirectoryName(value, &name)) return false;
    subtrees->directory_names.push_back(name);
  } else if (tag == der::ContextSpecificConstructed(5)) {
    // ediPartyName [5] EDIPartyName
    name_type = GENERAL_NAME_EDI_PARTY_NAME;
    subtrees->edi_party_names.push_back(value);
  } else if (tag == der::ContextSpecificPrimitive(6)) {
    // uniformResourceIdentifier [6] IA5String
    name_type = GENERAL_NAME_UNIFORM_RESOURCE_IDENTIFIER;
    if (!ReadAsciiName(value, kURINotAscii,
                       &subtrees->uniform_resource_identifiers, errors)) {
      return false;
    }
  } else if (tag == der::ContextSpecificPrimitive(7)) {
    // iPAddress [7] OCTET STRING
    name_type = GENERAL_NAME_IP_ADDRESS;
    if (!ReadIpAddress(value, ip_mode, subtrees)) {
      errors->AddError(kFailedParsingIp);
      return false;
    }
  } else if (tag == der::ContextSpecificPrimitive(8)) {
    // registeredID [8] OBJECT IDENTIFIER
    name_type = GENERAL_NAME_REGISTERED_ID;
    subtrees->registered_ids.push_back(value);
  } else {
    errors->AddError(kUnknownGeneralNameType,
                     CreateCertErrorParams1SizeT("tag", tag));
    return false;
  }
  subtrees->present_name_types |= name_type;
  return true;
}

}  // namespace net
