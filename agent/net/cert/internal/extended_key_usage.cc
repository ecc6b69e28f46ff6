#include "agent/net/cert/internal/extended_key_usage.h"

#include <cstdint>

#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"

namespace net {

namespace {

constexpr uint8_t kAnyEKU[] = {0x55, 0x1d, 0x25, 0x00};
constexpr uint8_t kServerAuth[] = {0x2b, 0x06, 0x01, 0x05,
                                   0x05, 0x07, 0x03, 0x01};
constexpr uint8_t kClientAuth[] = {0x2b, 0x06, 0x01, 0x05,
                                   0x05, 0x07, 0x03, 0x02};
constexpr uint8_t kNetscapeServerGatedCrypto[] = {0x60, 0x86, 0x48, 0x01, 0x86,
                                                  0xf8, 0x42, 0x04, 0x01};

}  // namespace

der::Input AnyEKU() { return der::Input(kAnyEKU); }
der::Input ServerAuth() { return der::Input(kServerAuth); }
der::Input ClientAuth() { return der::Input(kClientAuth); }
der::Input NetscapeServerGatedCrypto() {
  return der::Input(kNetscapeServerGatedCrypto);
}

bool ParseExtendedKeyUsage(const der::Input& extension_value,
                           std::vector<der::Input>* eku_oids) {
  der::Parser extension_parser(extension_value);
  der::Parser sequence_parser;
  if (!extension_parser.ReadSequence(&sequence_parser)) return false;
  if (extension_parser.HasMore()) return false;
  // RFC 5280 gives KeyPurposeId at least one element.
  if (!sequence_parser.HasMore()) return false;

  while (sequence_parser.HasMore()) {
    der::Input eku_oid;
    if (!sequence_parser.ReadValueWithTag(der::kOid, &eku_oid)) return false;
    eku_oids->push_back(eku_oid);
  }
  return true;
}

}  // namespace net
