#ifndef AGENT_NET_DER_DER_TEST_UTIL_H_
#define AGENT_NET_DER_DER_TEST_UTIL_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "agent/base/strings/string_number_conversions.h"
#include "agent/net/der/input.h"
#include "logging/check.h"

// Small helpers for tests that write DER by hand. Byte strings are
// std::string so they concatenate with +.
namespace net::der::test {

// The bytes of a hexadecimal text; a malformed text is a test bug.
inline std::string FromHex(const char* hex) {
  std::vector<uint8_t> bytes;
  CHECK(kelmbase::HexStringToBytes(hex, &bytes));
  return std::string(bytes.begin(), bytes.end());
}

// One element with a one-octet identifier and a minimal definite length.
inline std::string Tlv(uint8_t identifier, const std::string& contents) {
  std::string out(1, static_cast<char>(identifier));
  const size_t length = contents.size();
  if (length < 0x80) {
    out += static_cast<char>(length);
  } else {
    std::string length_bytes;
    for (size_t n = length; n != 0; n >>= 8)
      length_bytes.insert(length_bytes.begin(), static_cast<char>(n & 0xFF));
    out += static_cast<char>(0x80 | length_bytes.size());
    out += length_bytes;
  }
  return out + contents;
}

inline std::string Sequence(std::initializer_list<std::string> elements) {
  std::string contents;
  for (const std::string& element : elements)
    contents += element;
  return Tlv(0x30, contents);
}

}  // namespace net::der::test

#endif  // AGENT_NET_DER_DER_TEST_UTIL_H_
