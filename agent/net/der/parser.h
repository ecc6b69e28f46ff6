#ifndef AGENT_NET_DER_PARSER_H_
#define AGENT_NET_DER_PARSER_H_

#include <openssl/bytestring.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "agent/net/der/input.h"
#include "agent/net/der/tag.h"
#include "logging/check.h"

namespace net::der {

class BitString;

// A cursor over a sequence of DER elements, such as the contents of a
// SEQUENCE. Element framing follows DER strictly (BoringSSL's element
// reader): definite minimal lengths, no indefinite form, tag numbers below
// 2^29, universal tag 0 refused, and the element must fit in what is left.
//
// Every reader returns true on success and consumes exactly one element.
// On failure nothing is consumed, except that the optional readers treat an
// element with another tag as absent (a success that consumes nothing).
// Out-parameters are unspecified after a failure. Values are views into the
// bytes the parser was made over, which must outlive them.
//
// A Parser belongs to one caller; it holds no shared state.
class Parser {
 public:
  // A parser with nothing to read.
  Parser() { CBS_init(&cbs_, nullptr, 0); }
  explicit Parser(const Input& input) {
    CBS_init(&cbs_, input.data(), input.length());
  }

  Parser(const Parser&) = default;
  Parser& operator=(const Parser&) = default;

  // Reads the next element's tag and value without consuming it.
  [[nodiscard]] bool PeekElement(Tag* tag, Input* value);

  // Whether any bytes remain (well-formed or not).
  bool HasMore() const { return cbs_.len != 0; }

  // Consumes the next element and returns it whole: tag, length and value.
  [[nodiscard]] bool ReadRawElement(Input* out);

  // Consumes the next element.
  [[nodiscard]] bool ReadElement(Tag* tag, Input* value);

  // Consumes the next element only if its tag is `tag`. Another tag, or the
  // end of input, is success with `*present` false.
  [[nodiscard]] bool ReadOptionalElement(Tag tag, Input* value, bool* present);
  [[nodiscard]] bool ReadOptionalElement(Tag tag, std::optional<Input>* value);
  [[nodiscard]] bool SkipOptionalElement(Tag tag, bool* present);

  // Consumes the next element, which must carry `tag`.
  [[nodiscard]] bool ReadValueWithTag(Tag tag, Input* value);
  [[nodiscard]] bool SkipValueWithTag(Tag tag);

  // Consumes the next element, which must carry the constructed tag `tag`,
  // and makes `*out` a fresh parser over its value.
  [[nodiscard]] bool ReadConstructed(Tag tag, Parser* out);
  [[nodiscard]] bool ReadSequence(Parser* out);

  // Consume an INTEGER and parse it as ParseUint8 / ParseUint64 do.
  [[nodiscard]] bool ReadUint8(uint8_t* out);
  [[nodiscard]] bool ReadUint64(uint64_t* out);
  // Consumes a BIT STRING and parses it as ParseBitString does.
  [[nodiscard]] bool ReadBitString(BitString* out);

 private:
  // PeekElement for what the inline framing does not cover: high tag
  // numbers, lengths above 0xFFFF, and everything malformed.
  bool PeekElementSlow(Tag* tag, Input* value);
  // Peeks the next element and checks its tag.
  bool PeekValueWithTag(Tag tag, Input* value) {
    Tag actual_tag;
    return PeekElement(&actual_tag, value) && actual_tag == tag;
  }
  // Forgets the element last peeked; returns false for the caller to pass on.
  bool DropPeek() {
    advance_len_ = 0;
    return false;
  }
  // Skips the element last peeked.
  bool Advance() {
    const size_t len = advance_len_;
    advance_len_ = 0;
    if (len == 0 || len > cbs_.len)
      return false;
    cbs_.data += len;
    cbs_.len -= len;
    return true;
  }

  CBS cbs_;
  // Whole length of the element last peeked; 0 when none is pending.
  size_t advance_len_ = 0;
};

// The readers every certificate field goes through are inline: a parse
// makes hundreds of these calls, and most elements have a one-octet
// identifier and a length below 0x10000, whose framing is read here without
// calling into BoringSSL. Anything else takes PeekElementSlow, which lets
// BoringSSL's element reader decide, so both paths accept exactly the same
// elements.
inline bool Parser::PeekElement(Tag* tag, Input* value) {
  const uint8_t* const data = cbs_.data;
  const size_t len = cbs_.len;
  if (len < 2)
    return PeekElementSlow(tag, value);
  const uint8_t identifier = data[0];
  const uint8_t number = identifier & 0x1F;
  // 0x1F announces a high tag number; number 0 is refused in the universal
  // class and rare elsewhere.
  if (number == 0x1F || number == 0)
    return PeekElementSlow(tag, value);
  size_t header_len;
  size_t value_len;
  const uint8_t first_length_octet = data[1];
  if (first_length_octet < 0x80) {
    header_len = 2;
    value_len = first_length_octet;
  } else if (first_length_octet == 0x81 && len >= 3 && data[2] >= 0x80) {
    header_len = 3;
    value_len = data[2];
  } else if (first_length_octet == 0x82 && len >= 4 && data[2] != 0) {
    header_len = 4;
    value_len = (size_t{data[2]} << 8) | data[3];
  } else {
    return PeekElementSlow(tag, value);
  }
  if (value_len > len - header_len)
    return PeekElementSlow(tag, value);
  advance_len_ = header_len + value_len;
  *tag = (static_cast<Tag>(identifier & 0xE0) << 24) | number;
  *value = Input(data + header_len, value_len);
  return true;
}

inline bool Parser::ReadRawElement(Input* out) {
  const uint8_t* start = cbs_.data;
  Tag tag;
  Input value;
  if (!PeekElement(&tag, &value))
    return false;
  *out = Input(start, advance_len_);
  CHECK(Advance());
  return true;
}

inline bool Parser::ReadElement(Tag* tag, Input* value) {
  if (!PeekElement(tag, value))
    return false;
  CHECK(Advance());
  return true;
}

inline bool Parser::ReadOptionalElement(Tag tag, Input* value, bool* present) {
  *present = false;
  if (!HasMore())
    return true;
  Tag actual_tag;
  Input actual_value;
  if (!PeekElement(&actual_tag, &actual_value))
    return false;
  if (actual_tag != tag) {
    advance_len_ = 0;
    return true;
  }
  *present = true;
  *value = actual_value;
  CHECK(Advance());
  return true;
}

inline bool Parser::ReadValueWithTag(Tag tag, Input* value) {
  if (!PeekValueWithTag(tag, value))
    return DropPeek();
  CHECK(Advance());
  return true;
}

inline bool Parser::SkipValueWithTag(Tag tag) {
  Input ignored;
  return ReadValueWithTag(tag, &ignored);
}

inline bool Parser::ReadConstructed(Tag tag, Parser* out) {
  if (!IsConstructed(tag))
    return false;
  Input value;
  if (!ReadValueWithTag(tag, &value))
    return false;
  *out = Parser(value);
  return true;
}

inline bool Parser::ReadSequence(Parser* out) {
  return ReadConstructed(kSequence, out);
}

}  // namespace net::der

#endif  // AGENT_NET_DER_PARSER_H_
