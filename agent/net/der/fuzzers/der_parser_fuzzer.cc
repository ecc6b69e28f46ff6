// Walks arbitrary bytes as nested DER elements and runs every value parser
// on every element, checking what the parsers promise about their results.

#include <cstddef>
#include <cstdint>

#include "agent/net/der/generalized_time.h"
#include "agent/net/der/input.h"
#include "agent/net/der/parse_values.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"
#include "logging/check.h"

namespace {

using net::der::BitString;
using net::der::GeneralizedTime;
using net::der::Input;
using net::der::Parser;
using net::der::Tag;

constexpr int kMaxDepth = 32;

bool Within(const Input& inner, const Input& outer) {
  return inner.data() >= outer.data() &&
         inner.data() + inner.length() <= outer.data() + outer.length();
}

void CheckTime(const GeneralizedTime& time) {
  CHECK(time.InRange());
  kelmbase::Time converted;
  if (!net::der::GeneralizedTimeToTime(time, &converted))
    return;
  GeneralizedTime back;
  // A leap second may land on the next minute; every other time comes back.
  if (time.seconds == 60 || !net::der::TimeToGeneralizedTime(converted, &back))
    return;
  CHECK(!(time < back) && !(back < time));
}

void ParseValues(const Input& value) {
  bool boolean;
  if (net::der::ParseBool(value, &boolean))
    CHECK_EQ(1u, value.length());

  bool negative;
  const bool valid_integer = net::der::IsValidInteger(value, &negative);
  uint64_t u64;
  if (net::der::ParseUint64(value, &u64))
    CHECK(valid_integer && !negative);
  uint8_t u8;
  if (net::der::ParseUint8(value, &u8)) {
    CHECK(net::der::ParseUint64(value, &u64));
    CHECK_EQ(u64, u8);
  }

  BitString bits;
  if (net::der::ParseBitString(value, &bits)) {
    CHECK(bits.unused_bits() < 8);
    CHECK(Within(bits.bytes(), value));
    const size_t bit_count = bits.bytes().length() * 8;
    // Unused bits are zero, and nothing past the bytes reads as set.
    for (size_t i = bit_count - (bit_count ? bits.unused_bits() : 0);
         i < bit_count + 8; ++i) {
      CHECK(!bits.IsBitSet(i));
    }
  }

  GeneralizedTime time;
  if (net::der::ParseUTCTime(value, &time))
    CheckTime(time);
  if (net::der::ParseGeneralizedTime(value, &time))
    CheckTime(time);
}

void Walk(const Input& input, int depth) {
  if (depth > kMaxDepth)
    return;
  Parser parser(input);
  while (parser.HasMore()) {
    Parser peeker = parser;
    Tag tag;
    Input value;
    if (!parser.PeekElement(&tag, &value))
      return;
    CHECK(Within(value, input));

    // The optional readers skip an element of another tag and take one of
    // this tag, ending where the plain reader ends.
    Input optional_value;
    bool present;
    CHECK(peeker.ReadOptionalElement(tag ^ 1, &optional_value, &present));
    CHECK(!present);
    CHECK(peeker.ReadOptionalElement(tag, &optional_value, &present));
    CHECK(present && optional_value == value);

    Input raw;
    CHECK(parser.ReadRawElement(&raw));
    CHECK(Within(raw, input));
    CHECK(raw.data() + raw.length() == value.data() + value.length());
    CHECK_EQ(peeker.HasMore(), parser.HasMore());

    ParseValues(value);
    if (net::der::IsConstructed(tag)) {
      Parser reread(raw);
      Parser inner;
      CHECK(reread.ReadConstructed(tag, &inner));
      CHECK(!reread.HasMore());
      Walk(value, depth + 1);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Walk(Input(data, size), 0);
  return 0;
}
