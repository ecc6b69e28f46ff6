#ifndef AGENT_NET_CERT_INTERNAL_GENERAL_NAMES_H_
#define AGENT_NET_CERT_INTERNAL_GENERAL_NAMES_H_

// GeneralNames (RFC 5280 4.2.1.6), as found in subjectAltName and in the
// subtrees of nameConstraints, parsed into one list per name form.
//
// Parsed names are views into the bytes given to the parser, which must
// outlive them. No shared state; a GeneralNames is not changed after parsing
// and may then be read from any thread.

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "agent/net/base/ip_address.h"
#include "agent/net/der/input.h"

namespace net {

class CertErrors;

// One bit per GeneralName form: 1 shifted left by the form's context tag.
enum GeneralNameTypes : uint16_t {
  GENERAL_NAME_NONE = 0,
  GENERAL_NAME_OTHER_NAME = 1 << 0,
  GENERAL_NAME_RFC822_NAME = 1 << 1,
  GENERAL_NAME_DNS_NAME = 1 << 2,
  GENERAL_NAME_X400_ADDRESS = 1 << 3,
  GENERAL_NAME_DIRECTORY_NAME = 1 << 4,
  GENERAL_NAME_EDI_PARTY_NAME = 1 << 5,
  GENERAL_NAME_UNIFORM_RESOURCE_IDENTIFIER = 1 << 6,
  GENERAL_NAME_IP_ADDRESS = 1 << 7,
  GENERAL_NAME_REGISTERED_ID = 1 << 8,
  GENERAL_NAME_ALL_TYPES = (1 << 9) - 1,
};

// How an iPAddress GeneralName is read.
enum GeneralNameIpMode {
  // 4 or 16 bytes: one address, as in subjectAltName.
  ADDRESS_ONLY = 0,
  // 8 or 32 bytes: an address and its netmask, as in name constraints.
  ADDRESS_AND_MASK = 1,
};

struct GeneralNames {
  GeneralNames();
  ~GeneralNames();
  GeneralNames(const GeneralNames&) = delete;
  GeneralNames& operator=(const GeneralNames&) = delete;

  // Each list holds the names of one form in encoded order. Forms that are
  // not interpreted keep the element's contents; directory names keep the
  // contents of the Name SEQUENCE (an RDN sequence).
  std::vector<der::Input> other_names;
  std::vector<std::string_view> rfc822_names;
  std::vector<std::string_view> dns_names;
  std::vector<der::Input> x400_addresses;
  std::vector<der::Input> directory_names;
  std::vector<der::Input> edi_party_names;
  std::vector<std::string_view> uniform_resource_identifiers;
  // iPAddress names read in ADDRESS_ONLY mode.
  std::vector<IPAddress> ip_addresses;
  // iPAddress names read in ADDRESS_AND_MASK mode: the address and the
  // netmask's prefix length in bits. The address's host bits may be set.
  std::vector<std::pair<IPAddress, unsigned>> ip_address_ranges;
  std::vector<der::Input> registered_ids;

  // The OR of the GeneralNameTypes bits of every form seen.
  uint16_t present_name_types = GENERAL_NAME_NONE;
};

// Parses a subjectAltName extension value: one SEQUENCE of GeneralName,
// nothing after it. Null on failure, with the reason in `errors` (may be
// null).
std::unique_ptr<GeneralNames> ParseGeneralNames(
    const der::Input& general_names_tlv, CertErrors* errors);

// Parses the contents of a GeneralNames SEQUENCE: at least one GeneralName,
// each in ADDRESS_ONLY mode.
std::unique_ptr<GeneralNames> ParseGeneralNamesValue(
    const der::Input& general_names_value, CertErrors* errors);

// Parses one GeneralName TLV and adds it to `subtrees`. Text forms must be
// ASCII; a directoryName must hold exactly one Name SEQUENCE; an iPAddress
// is read as `ip_mode` says, and in ADDRESS_AND_MASK mode its netmask must be
// a run of one bits followed only by zero bits. On failure `subtrees` is
// unchanged.
[[nodiscard]] bool ParseGeneralName(const der::Input& input,
                                    GeneralNameIpMode ip_mode,
                                    GeneralNames* subtrees, CertErrors* errors);

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_GENERAL_NAMES_H_
