#include "agent/net/der/parser.h"

#include <openssl/bytestring.h>

#include <string>
#include <vector>

#include "agent/net/der/parse_values.h"
#include "gtest/gtest.h"

namespace net::der {
namespace {

Input In(const std::vector<uint8_t>& bytes) {
  return Input(bytes.data(), bytes.size());
}

TEST(ParserTest, ReadsSequenceAndItsInteger) {
  const std::vector<uint8_t> der = {0x30, 0x03, 0x02, 0x01, 0x05};
  Parser parser(In(der));
  Parser sequence;
  ASSERT_TRUE(parser.ReadSequence(&sequence));
  EXPECT_FALSE(parser.HasMore());
  uint8_t value = 0;
  ASSERT_TRUE(sequence.ReadUint8(&value));
  EXPECT_EQ(5, value);
  EXPECT_FALSE(sequence.HasMore());
}

// Framing that DER refuses: every case must fail to peek, and the failure
// must consume nothing.
TEST(ParserTest, RefusesMalformedFraming) {
  struct Case {
    const char* name;
    std::vector<uint8_t> der;
  };
  const Case kCases[] = {
      {"long form for a short length", {0x04, 0x81, 0x05, 1, 2, 3, 4, 5}},
      {"indefinite length", {0x30, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00}},
      {"length past the end", {0x04, 0x05, 1, 2}},
      {"leading zero length octet", {0x04, 0x82, 0x00, 0x81}},
      {"header cut short", {0x04, 0x82, 0x01}},
      {"tag only", {0x04}},
      {"universal tag 0", {0x00, 0x00}},
      {"high tag form for a low number", {0x1F, 0x1E, 0x00}},
      {"high tag with a leading 0x80 octet", {0x1F, 0x80, 0x20, 0x00}},
  };
  for (const Case& c : kCases) {
    Parser parser(In(c.der));
    Tag tag;
    Input value;
    EXPECT_FALSE(parser.PeekElement(&tag, &value)) << c.name;
    EXPECT_FALSE(parser.ReadElement(&tag, &value)) << c.name;
    Input raw;
    EXPECT_FALSE(parser.ReadRawElement(&raw)) << c.name;
    EXPECT_TRUE(parser.HasMore()) << c.name;
  }
}

TEST(ParserTest, AcceptsLongFormLengthAndHighTagNumber) {
  std::vector<uint8_t> der = {0x04, 0x81, 0x80};
  der.resize(3 + 0x80, 0xAB);
  der.insert(der.end(), {0x9F, 0x1F, 0x01, 0x42});  // [31] primitive.
  Parser parser(In(der));
  Tag tag;
  Input value;
  ASSERT_TRUE(parser.ReadElement(&tag, &value));
  EXPECT_EQ(kOctetString, tag);
  EXPECT_EQ(0x80u, value.length());
  ASSERT_TRUE(parser.ReadElement(&tag, &value));
  EXPECT_EQ(kTagContextSpecific | 31u, tag);
  ASSERT_EQ(1u, value.length());
  EXPECT_EQ(0x42, value.data()[0]);
  EXPECT_FALSE(parser.HasMore());
}

// Lengths around the points where the encoding changes size: each must be
// read when the value is all there, refused when one byte is missing, and
// refused when written with more length octets than needed.
TEST(ParserTest, LengthEncodingBoundaries) {
  struct Case {
    std::vector<uint8_t> length_octets;
    size_t length;
    bool minimal;
  };
  const Case kCases[] = {
      {{0x7F}, 127, true},
      {{0x81, 0x80}, 128, true},
      {{0x81, 0xFF}, 255, true},
      {{0x82, 0x01, 0x00}, 256, true},
      {{0x82, 0xFF, 0xFF}, 65535, true},
      {{0x83, 0x01, 0x00, 0x00}, 65536, true},
      {{0x81, 0x7F}, 127, false},
      {{0x81, 0x00}, 0, false},
      {{0x82, 0x00, 0xFF}, 255, false},
      {{0x82, 0x00, 0x80}, 128, false},
      {{0x83, 0x00, 0xFF, 0xFF}, 65535, false},
  };
  for (const Case& c : kCases) {
    const std::string name = "length " + std::to_string(c.length) + " in " +
                             std::to_string(c.length_octets.size()) +
                             " octets";
    std::vector<uint8_t> der = {0x04};
    der.insert(der.end(), c.length_octets.begin(), c.length_octets.end());
    const size_t header_len = der.size();
    der.resize(header_len + c.length, 0x5A);

    // The value cut short by one byte never reads.
    if (c.length > 0) {
      Parser short_parser(Input(der.data(), der.size() - 1));
      Tag tag;
      Input value;
      EXPECT_FALSE(short_parser.PeekElement(&tag, &value)) << name;
    }

    // A following NULL shows the reader stops exactly at the value's end.
    der.insert(der.end(), {0x05, 0x00});
    Parser parser(In(der));
    Tag tag;
    Input value;
    if (!c.minimal) {
      EXPECT_FALSE(parser.ReadElement(&tag, &value)) << name;
      continue;
    }
    ASSERT_TRUE(parser.ReadElement(&tag, &value)) << name;
    EXPECT_EQ(kOctetString, tag) << name;
    EXPECT_EQ(der.data() + header_len, value.data()) << name;
    EXPECT_EQ(c.length, value.length()) << name;
    ASSERT_TRUE(parser.ReadElement(&tag, &value)) << name;
    EXPECT_EQ(kNull, tag) << name;
    EXPECT_FALSE(parser.HasMore()) << name;
  }
}

// The parser's framing must agree with BoringSSL's element reader on every
// identifier octet, under every length form, with the value complete and
// with it one byte short: same verdict, tag, value and element size.
TEST(ParserTest, FramingAgreesWithBoringSslElementReader) {
  const std::vector<std::vector<uint8_t>> kLengthForms = {
      {0x00},
      {0x01},
      {0x7F},
      {0x80},
      {0x81, 0x01},
      {0x81, 0x7F},
      {0x81, 0x80},
      {0x81, 0xFF},
      {0x82, 0x00, 0x80},
      {0x82, 0x00, 0xFF},
      {0x82, 0x01, 0x00},
      {0x82, 0x01, 0x2C},
      {0x83, 0x00, 0x01, 0x00},
      {0x83, 0x01, 0x00, 0x00},
      {0x84, 0x00, 0x01, 0x00, 0x00},
      {0x85, 0x00, 0x00, 0x01, 0x00, 0x00},
      {0xFF},
  };
  // What follows a high-tag-number identifier octet: a one-octet number
  // below and at 31, a two-octet number, and a padded one.
  const std::vector<std::vector<uint8_t>> kHighTagNumbers = {
      {0x1E}, {0x1F}, {0x7F}, {0x81, 0x00}, {0x80, 0x20}};

  std::vector<std::vector<uint8_t>> identifiers;
  for (int first = 0; first < 256; ++first) {
    if ((first & 0x1F) != 0x1F) {
      identifiers.push_back({static_cast<uint8_t>(first)});
      continue;
    }
    for (const std::vector<uint8_t>& number : kHighTagNumbers) {
      std::vector<uint8_t> identifier = {static_cast<uint8_t>(first)};
      identifier.insert(identifier.end(), number.begin(), number.end());
      identifiers.push_back(identifier);
    }
  }

  for (const std::vector<uint8_t>& identifier : identifiers) {
    for (const std::vector<uint8_t>& length_octets : kLengthForms) {
      std::vector<uint8_t> header = identifier;
      header.insert(header.end(), length_octets.begin(), length_octets.end());
      // Enough value bytes for the largest length above, less one byte,
      // plus one element's worth.
      for (size_t value_len : {size_t{0}, size_t{1}, size_t{0x7F},
                               size_t{0x80}, size_t{0xFF}, size_t{0x12C},
                               size_t{0xFFFF}, size_t{0x10000}}) {
        std::vector<uint8_t> der = header;
        der.resize(header.size() + value_len, 0x00);

        CBS cbs;
        CBS_init(&cbs, der.data(), der.size());
        CBS element;
        unsigned expected_tag = 0;
        size_t header_len = 0;
        const bool expected_ok = CBS_get_any_asn1_element(
            &cbs, &element, &expected_tag, &header_len);

        Parser parser(In(der));
        Tag tag = 0;
        Input value;
        const bool ok = parser.PeekElement(&tag, &value);
        ASSERT_EQ(expected_ok, ok)
            << "identifier " << int{identifier[0]} << " length octets "
            << length_octets.size() << " value " << value_len;
        if (!ok) {
          EXPECT_TRUE(parser.HasMore());
          continue;
        }
        EXPECT_EQ(expected_tag, tag);
        EXPECT_EQ(CBS_data(&element) + header_len, value.data());
        EXPECT_EQ(CBS_len(&element) - header_len, value.length());
        Input raw;
        ASSERT_TRUE(parser.ReadRawElement(&raw));
        EXPECT_EQ(der.data(), raw.data());
        EXPECT_EQ(CBS_len(&element), raw.length());
      }
    }
  }
}

TEST(ParserTest, PeekDoesNotConsume) {
  const std::vector<uint8_t> der = {0x02, 0x01, 0x07, 0x05, 0x00};
  Parser parser(In(der));
  Tag tag;
  Input value;
  ASSERT_TRUE(parser.PeekElement(&tag, &value));
  ASSERT_TRUE(parser.PeekElement(&tag, &value));
  EXPECT_EQ(kInteger, tag);
  Input raw;
  ASSERT_TRUE(parser.ReadRawElement(&raw));
  EXPECT_EQ(In({0x02, 0x01, 0x07}), raw);
  ASSERT_TRUE(parser.ReadElement(&tag, &value));
  EXPECT_EQ(kNull, tag);
  EXPECT_TRUE(value.empty());
  EXPECT_FALSE(parser.HasMore());
  EXPECT_FALSE(parser.ReadElement(&tag, &value));
}

TEST(ParserTest, OptionalElementAbsentLeavesTheNextElement) {
  const std::vector<uint8_t> der = {0x02, 0x01, 0x05};
  Parser parser(In(der));
  Input value;
  bool present = true;
  ASSERT_TRUE(
      parser.ReadOptionalElement(ContextSpecificConstructed(0), &value,
                                 &present));
  EXPECT_FALSE(present);
  std::optional<Input> optional_value = In(der);
  ASSERT_TRUE(parser.ReadOptionalElement(ContextSpecificPrimitive(0),
                                         &optional_value));
  EXPECT_FALSE(optional_value.has_value());
  ASSERT_TRUE(parser.SkipOptionalElement(kBool, &present));
  EXPECT_FALSE(present);

  uint8_t number = 0;
  ASSERT_TRUE(parser.ReadUint8(&number));
  EXPECT_EQ(5, number);

  // At the end of input the element is absent, and that is a success.
  present = true;
  ASSERT_TRUE(parser.ReadOptionalElement(kInteger, &value, &present));
  EXPECT_FALSE(present);
}

TEST(ParserTest, OptionalElementPresentIsConsumed) {
  const std::vector<uint8_t> der = {0xA0, 0x03, 0x02, 0x01, 0x02, 0x05, 0x00};
  Parser parser(In(der));
  std::optional<Input> value;
  ASSERT_TRUE(parser.ReadOptionalElement(ContextSpecificConstructed(0), &value));
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(In({0x02, 0x01, 0x02}), *value);
  bool present = false;
  ASSERT_TRUE(parser.SkipOptionalElement(kNull, &present));
  EXPECT_TRUE(present);
  EXPECT_FALSE(parser.HasMore());
}

TEST(ParserTest, OptionalElementFailsOnMalformedNextElement) {
  const std::vector<uint8_t> der = {0x02, 0x05, 0x01};
  Parser parser(In(der));
  bool present;
  Input value;
  EXPECT_FALSE(parser.ReadOptionalElement(kInteger, &value, &present));
}

TEST(ParserTest, TagCheckedReadersRefuseAnotherTagAndConsumeNothing) {
  const std::vector<uint8_t> der = {0x02, 0x01, 0x05};
  Parser parser(In(der));
  Input value;
  EXPECT_FALSE(parser.ReadValueWithTag(kOctetString, &value));
  EXPECT_FALSE(parser.SkipValueWithTag(kNull));
  Parser inner;
  EXPECT_FALSE(parser.ReadSequence(&inner));
  BitString bits;
  EXPECT_FALSE(parser.ReadBitString(&bits));
  ASSERT_TRUE(parser.SkipValueWithTag(kInteger));
  EXPECT_FALSE(parser.HasMore());
}

TEST(ParserTest, ReadConstructedRequiresAConstructedTag) {
  // [0] primitive holding bytes that would parse as an element.
  const std::vector<uint8_t> der = {0x80, 0x03, 0x02, 0x01, 0x05};
  Parser parser(In(der));
  Parser inner;
  EXPECT_FALSE(parser.ReadConstructed(ContextSpecificPrimitive(0), &inner));
  EXPECT_TRUE(parser.HasMore());
}

TEST(ParserTest, IntegerReadersConsumeOnlyWhatParses) {
  // 256 fails as a uint8 but reads as a uint64 afterwards.
  const std::vector<uint8_t> der = {0x02, 0x02, 0x01, 0x00};
  Parser parser(In(der));
  uint8_t small;
  EXPECT_FALSE(parser.ReadUint8(&small));
  uint64_t big = 0;
  ASSERT_TRUE(parser.ReadUint64(&big));
  EXPECT_EQ(256u, big);
  EXPECT_FALSE(parser.HasMore());
}

TEST(ParserTest, ReadBitString) {
  const std::vector<uint8_t> der = {0x03, 0x02, 0x03, 0xF8};
  Parser parser(In(der));
  BitString bits;
  ASSERT_TRUE(parser.ReadBitString(&bits));
  EXPECT_EQ(3, bits.unused_bits());
  EXPECT_EQ(In({0xF8}), bits.bytes());
}

TEST(ParserTest, EmptyParserHasNothing) {
  Parser parser;
  EXPECT_FALSE(parser.HasMore());
  Tag tag;
  Input value;
  EXPECT_FALSE(parser.ReadElement(&tag, &value));
}

// Tags built by the helpers match the tags the element reader reports.
TEST(TagTest, HelpersMatchParsedTags) {
  const std::vector<uint8_t> der = {0xA0, 0x00, 0x82, 0x00, 0x31, 0x00,
                                    0xA3, 0x00};
  Parser parser(In(der));
  const Tag kExpected[] = {ContextSpecificConstructed(0),
                           ContextSpecificPrimitive(2), kSet,
                           ContextSpecificConstructed(3)};
  for (Tag expected : kExpected) {
    Tag tag;
    Input value;
    ASSERT_TRUE(parser.ReadElement(&tag, &value));
    EXPECT_EQ(expected, tag);
  }
  EXPECT_TRUE(IsConstructed(ContextSpecificConstructed(0)));
  EXPECT_FALSE(IsConstructed(ContextSpecificPrimitive(0)));
}

}  // namespace
}  // namespace net::der
