#ifndef AGENT_NET_CERT_INTERNAL_DER_TEST_BUILDER_H_
#define AGENT_NET_CERT_INTERNAL_DER_TEST_BUILDER_H_

// Tests' shorthand for writing DER by hand: Tlv(der::kSequence, Tlv(...) +
// Tlv(...)) reads like the ASN.1 it encodes. Lengths are always written in
// their minimal form, so what these build is DER unless a test splices in
// bytes of its own. Test code only.

#include <openssl/bytestring.h>
#include <openssl/mem.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/net/der/input.h"
#include "agent/net/der/tag.h"

namespace net::test {

// One element: the identifier octet(s) of `tag` (the tag form of der::Tag),
// the minimal length and `contents`.
inline std::string Tlv(der::Tag tag, std::string_view contents) {
  std::string out;
  const uint8_t leading = static_cast<uint8_t>(tag >> 24) & 0xe0;
  const uint32_t number = tag & der::kTagNumberMask;
  if (number < 31) {
    out.push_back(static_cast<char>(leading | number));
  } else {
    out.push_back(static_cast<char>(leading | 0x1f));
    std::string base128;
    for (uint32_t n = number; n != 0; n >>= 7) {
      base128.insert(
          base128.begin(),
          static_cast<char>((n & 0x7f) | (base128.empty() ? 0 : 0x80)));
    }
    out += base128;
  }
  const size_t length = contents.size();
  if (length < 0x80) {
    out.push_back(static_cast<char>(length));
  } else {
    std::string length_bytes;
    for (size_t n = length; n != 0; n >>= 8) {
      length_bytes.insert(length_bytes.begin(), static_cast<char>(n & 0xff));
    }
    out.push_back(static_cast<char>(0x80 | length_bytes.size()));
    out += length_bytes;
  }
  out.append(contents);
  return out;
}

inline std::string Sequence(std::string_view contents) {
  return Tlv(der::kSequence, contents);
}
inline std::string Set(std::string_view contents) {
  return Tlv(der::kSet, contents);
}
inline std::string Oid(std::string_view value_bytes) {
  return Tlv(der::kOid, value_bytes);
}
inline std::string Oid(const der::Input& value_bytes) {
  return Tlv(der::kOid, value_bytes.AsStringView());
}

// A Name attribute: SEQUENCE { type, value }.
inline std::string Attribute(const der::Input& type, der::Tag value_tag,
                             std::string_view value) {
  return Sequence(Oid(type) + Tlv(value_tag, value));
}

// Bytes from hex digits, of either case; spaces are ignored. Anything else
// counts as a zero digit, which no test means to write.
inline std::string Hex(std::string_view hex) {
  std::string out;
  int nibble_count = 0;
  uint8_t byte = 0;
  for (char c : hex) {
    if (c == ' ') continue;
    uint8_t nibble = 0;
    if (c >= '0' && c <= '9')
      nibble = static_cast<uint8_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      nibble = static_cast<uint8_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      nibble = static_cast<uint8_t>(c - 'A' + 10);
    byte = static_cast<uint8_t>((byte << 4) | nibble);
    if (++nibble_count == 2) {
      out.push_back(static_cast<char>(byte));
      nibble_count = 0;
      byte = 0;
    }
  }
  return out;
}

// The dotted text of an OID's value bytes, by BoringSSL; empty when the
// bytes are not a valid OID.
inline std::string OidToText(const der::Input& oid) {
  CBS cbs;
  CBS_init(&cbs, oid.data(), oid.length());
  char* text = CBS_asn1_oid_to_text(&cbs);
  if (!text) return std::string();
  std::string result(text);
  OPENSSL_free(text);
  return result;
}

}  // namespace net::test

#endif  // AGENT_NET_CERT_INTERNAL_DER_TEST_BUILDER_H_
