#include "agent/net/der/parser.h"

#include "agent/net/der/parse_values.h"
#include "logging/check.h"

namespace net::der {

Parser::Parser() {
  CBS_init(&cbs_, nullptr, 0);
}

Parser::Parser(const Input& input) {
  CBS_init(&cbs_, input.data(), input.length());
}

bool Parser::PeekElement(Tag* tag, Input* value) {
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

bool Parser::Advance() {
  if (advance_len_ == 0)
    return false;
  const bool ok = CBS_skip(&cbs_, advance_len_);
  advance_len_ = 0;
  return ok;
}

bool Parser::HasMore() const {
  return CBS_len(&cbs_) > 0;
}

bool Parser::ReadRawElement(Input* out) {
  const uint8_t* start = CBS_data(&cbs_);
  Tag tag;
  Input value;
  if (!PeekElement(&tag, &value))
    return false;
  *out = Input(start, advance_len_);
  CHECK(Advance());
  return true;
}

bool Parser::ReadElement(Tag* tag, Input* value) {
  if (!PeekElement(tag, value))
    return false;
  CHECK(Advance());
  return true;
}

bool Parser::ReadOptionalElement(Tag tag, Input* value, bool* present) {
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

bool Parser::ReadValueWithTag(Tag tag, Input* value) {
  if (!PeekValueWithTag(tag, value))
    return DropPeek();
  CHECK(Advance());
  return true;
}

bool Parser::SkipValueWithTag(Tag tag) {
  Input ignored;
  return ReadValueWithTag(tag, &ignored);
}

bool Parser::ReadConstructed(Tag tag, Parser* out) {
  if (!IsConstructed(tag))
    return false;
  Input value;
  if (!ReadValueWithTag(tag, &value))
    return false;
  *out = Parser(value);
  return true;
}

bool Parser::ReadSequence(Parser* out) {
  return ReadConstructed(kSequence, out);
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

bool Parser::PeekValueWithTag(Tag tag, Input* value) {
  Tag actual_tag;
  return PeekElement(&actual_tag, value) && actual_tag == tag;
}

bool Parser::DropPeek() {
  advance_len_ = 0;
  return false;
}

}  // namespace net::der
