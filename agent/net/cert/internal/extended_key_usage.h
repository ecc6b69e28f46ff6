#ifndef AGENT_NET_CERT_INTERNAL_EXTENDED_KEY_USAGE_H_
#define AGENT_NET_CERT_INTERNAL_EXTENDED_KEY_USAGE_H_

// The extended key usage extension (RFC 5280 4.2.1.12) and the key purposes
// that chain verification looks for. No shared state.

#include <vector>

#include "agent/net/der/input.h"

namespace net {

// Value bytes of the key purpose OIDs.
der::Input AnyEKU();                     // 2.5.29.37.0
der::Input ServerAuth();                 // 1.3.6.1.5.5.7.3.1
der::Input ClientAuth();                 // 1.3.6.1.5.5.7.3.2
der::Input NetscapeServerGatedCrypto();  // 2.16.840.1.113730.4.1

// Appends the purpose OIDs of an extKeyUsage extension value to
// `*eku_oids`, in encoded order and with any repeats. The value must be one
// non-empty SEQUENCE of OBJECT IDENTIFIERs and nothing else. The OIDs are
// views into `extension_value`.
[[nodiscard]] bool ParseExtendedKeyUsage(const der::Input& extension_value,
                                         std::vector<der::Input>* eku_oids);

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_EXTENDED_KEY_USAGE_H_
