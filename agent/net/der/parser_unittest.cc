#include "agent/net/der/parser.h"

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
