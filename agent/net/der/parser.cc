#include "agent/net/der/parser.h"

#include "agent/net/der/parse_values.h"
#include "logging/check.h"

namespace net::der {

bool Parser::PeekElementSlow(Tag* tag, Input* value) {
  CBS peeker = cbs_;
  CBS element;
  unsigned element_tag;
  size_t header_len;
  if (!CBS_get_any_asn1_element(&peeker, &element, &element_tag, &header_len))
    return false;
  if (!CBS_skip(&element, header_len))
    return false;
  advance_len_ = CBS_len(&element) + header_len;
  *tag = element_tag;
  *value = Input(CBS_data(&element), CBS_len(&element));
  return true;
}

bool Parser::ReadOptionalElement(Tag tag, std::optional<Input>* value) {
  Input element;
  bool present;
  if (!ReadOptionalElement(tag, &element, &present))
    return false;
  if (present)
    *value = element;
  else
    value->reset();
  return true;
}

bool Parser::SkipOptionalElement(Tag tag, bool* present) {
  Input ignored;
  return ReadOptionalElement(tag, &ignored, present);
}

bool Parser::ReadUint8(uint8_t* out) {
  Input value;
  if (!PeekValueWithTag(kInteger, &value) || !ParseUint8(value, out))
    return DropPeek();
  CHECK(Advance());
  return true;
}

bool Parser::ReadUint64(uint64_t* out) {
  Input value;
  if (!PeekValueWithTag(kInteger, &value) || !ParseUint64(value, out))
    return DropPeek();
  CHECK(Advance());
  return true;
}

bool Parser::ReadBitString(BitString* out) {
  Input value;
  if (!PeekValueWithTag(kBitString, &value) || !ParseBitString(value, out))
    return DropPeek();
  CHECK(Advance());
  return true;
}

}  // namespace net::der
