#ifndef AGENT_NET_DER_TAG_H_
#define AGENT_NET_DER_TAG_H_

#include <cstdint>

namespace net::der {

// A DER tag as BoringSSL's element reader reports it: bits 31-30 are the
// class, bit 29 the constructed flag (both as in the identifier octet, moved
// to the top byte) and the low 29 bits the tag number.
using Tag = uint32_t;

inline constexpr Tag kTagPrimitive = 0x00000000;
inline constexpr Tag kTagConstructed = 0x20000000;
inline constexpr Tag kTagUniversal = 0x00000000;
inline constexpr Tag kTagApplication = 0x40000000;
inline constexpr Tag kTagContextSpecific = 0x80000000;
inline constexpr Tag kTagPrivate = 0xC0000000;
inline constexpr Tag kTagClassMask = 0xC0000000;
inline constexpr Tag kTagNumberMask = 0x1FFFFFFF;

// Universal tags.
inline constexpr Tag kBool = 1;
inline constexpr Tag kInteger = 2;
inline constexpr Tag kBitString = 3;
inline constexpr Tag kOctetString = 4;
inline constexpr Tag kNull = 5;
inline constexpr Tag kOid = 6;
inline constexpr Tag kEnumerated = 10;
inline constexpr Tag kUtf8String = 12;
inline constexpr Tag kPrintableString = 19;
inline constexpr Tag kTeletexString = 20;
inline constexpr Tag kIA5String = 22;
inline constexpr Tag kUtcTime = 23;
inline constexpr Tag kGeneralizedTime = 24;
inline constexpr Tag kVisibleString = 26;
inline constexpr Tag kUniversalString = 28;
inline constexpr Tag kBmpString = 30;
inline constexpr Tag kSequence = kTagConstructed | 0x10;
inline constexpr Tag kSet = kTagConstructed | 0x11;

// [n] with the context-specific class, constructed or primitive. Only tag
// numbers below 256 are meant; higher bits of `n` are dropped.
constexpr Tag ContextSpecificConstructed(uint8_t n) {
  return (n & 0xFF) | kTagContextSpecific | kTagConstructed;
}
constexpr Tag ContextSpecificPrimitive(uint8_t n) {
  return (n & 0xFF) | kTagContextSpecific;
}

constexpr bool IsConstructed(Tag tag) {
  return (tag & kTagConstructed) != 0;
}

}  // namespace net::der

#endif  // AGENT_NET_DER_TAG_H_
