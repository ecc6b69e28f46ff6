#ifndef AGENT_BASE_BASE64_H_
#define AGENT_BASE_BASE64_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/base/containers/span.h"
#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// Standard Base64 (RFC 4648 alphabet "A-Za-z0-9+/", "=" padding, no line
// breaks). Inputs must fit the int-sized block functions below: more than
// 1610612733 bytes to encode (the text would pass INT_MAX) or more than
// INT_MAX characters to decode is a fatal CHECK.

// The Base64 text of `bytes`.
std::string Base64EncodeToString(span<const uint8_t> bytes);
std::string Base64EncodeToString(StringPiece bytes);

// Replaces `*out` with the Base64 text of `bytes`.
void Base64Encode(span<const uint8_t> bytes, std::string* out);
void Base64Encode(StringPiece bytes, std::string* out);

// Decodes padded Base64 `text` (length a multiple of 4; no whitespace or
// other characters outside the alphabet; "=" only as one or two final
// characters). On success replaces `*out` with the bytes and returns true;
// on malformed text returns false and leaves `*out` as it was. The unused
// low bits of the last character are ignored.
bool Base64Decode(StringPiece text, std::string* out);

namespace internal {

// Writes the Base64 text of `length` bytes at `data` followed by a NUL into
// `out`, which must hold (length + 2) / 3 * 4 + 1 bytes. Returns the text
// length (without the NUL). `length` must not be negative.
int Base64EncodeBlock(char* out, const void* data, int length);

// Decodes `length` characters at `text` into `out`, which must hold
// length / 4 * 3 bytes. Returns the number of bytes written, or -1 for
// malformed input (then `out` may hold partial output). `length` must not be
// negative.
int Base64DecodeBlock(void* out, const char* text, int length);

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_BASE64_H_
