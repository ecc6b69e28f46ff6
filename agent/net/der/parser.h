#ifndef AGENT_NET_DER_PARSER_H_
#define AGENT_NET_DER_PARSER_H_

#include <openssl/bytestring.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "agent/net/der/input.h"
#include "agent/net/der/tag.h"

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
  Parser();
  explicit Parser(const Input& input);

  Parser(const Parser&) = default;
  Parser& operator=(const Parser&) = default;

  // Reads the next element's tag and value without consuming it.
  [[nodiscard]] bool PeekElement(Tag* tag, Input* value);

  // Whether any bytes remain (well-formed or not).
  bool HasMore() const;

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
  // Peeks the next element and checks its tag.
  bool PeekValueWithTag(Tag tag, Input* value);
  // Forgets the element last peeked; returns false for the caller to pass on.
  bool DropPeek();
  // Skips the element last peeked.
  bool Advance();

  CBS cbs_;
  // Whole length of the element last peeked; 0 when none is pending.
  size_t advance_len_ = 0;
};

}  // namespace net::der

#endif  // AGENT_NET_DER_PARSER_H_
