#include "agent/base/json/json_writer.h"

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "agent/base/values.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::string Json(const Value& value, int options = 0) {
  std::string out;
  EXPECT_TRUE(JsonWriter::WriteWithFlags(value, options, &out));
  return out;
}

Value List(Value a, Value b) {
  Value list(Value::Type::LIST);
  list.Append(std::move(a));
  list.Append(std::move(b));
  return list;
}

// `count` lists nested in each other, the innermost empty.
Value NestedLists(int count) {
  Value value(Value::Type::LIST);
  for (int i = 1; i < count; ++i) {
    Value outer(Value::Type::LIST);
    outer.Append(std::move(value));
    value = std::move(outer);
  }
  return value;
}

// `count` dictionaries nested under the key "k", the innermost empty.
Value NestedDictionaries(int count) {
  Value value(Value::Type::DICTIONARY);
  for (int i = 1; i < count; ++i) {
    Value outer(Value::Type::DICTIONARY);
    outer.SetKey("k", std::move(value));
    value = std::move(outer);
  }
  return value;
}

TEST(JsonWriterTest, Scalars) {
  EXPECT_EQ(Json(Value()), "null");
  EXPECT_EQ(Json(Value(true)), "true");
  EXPECT_EQ(Json(Value(false)), "false");
  EXPECT_EQ(Json(Value(0)), "0");
  EXPECT_EQ(Json(Value(-42)), "-42");
  EXPECT_EQ(Json(Value(std::numeric_limits<int>::min())), "-2147483648");
  EXPECT_EQ(Json(Value("text")), "\"text\"");
  EXPECT_EQ(Json(Value("")), "\"\"");
}

TEST(JsonWriterTest, Doubles) {
  const struct {
    double value;
    const char* plain;
    const char* omit_type;
  } kCases[] = {
      {3.0, "3.0", "3"},
      {0.0, "0.0", "0"},
      {-7.0, "-7.0", "-7"},
      {0.5, "0.5", "0.5"},
      {-2.5, "-2.5", "-2.5"},
      {1e-7, "1e-7", "1e-7"},
      {0.000001, "0.000001", "0.000001"},
      {999999999999.0, "999999999999.0", "999999999999"},
      {1e12, "1e+12", "1000000000000"},
      {1e21, "1e+21", "1e+21"},
      {-1e21, "-1e+21", "-1e+21"},
      // 2^63 itself is outside the int64 range and keeps its double form;
      // -2^63 is inside it.
      {9223372036854775808.0, "9.223372036854776e+18",
       "9.223372036854776e+18"},
      {-9223372036854775808.0, "-9.223372036854776e+18",
       "-9223372036854775808"},
      {1.5e300, "1.5e+300", "1.5e+300"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Json(Value(c.value)), c.plain) << c.value;
    EXPECT_EQ(Json(Value(c.value), JsonWriter::kOmitDoubleTypePreservation),
              c.omit_type)
        << c.value;
  }
}

TEST(JsonWriterTest, NanStoredThroughSetDoubleKeyWritesZero) {
  Value dict(Value::Type::DICTIONARY);
  dict.SetDoubleKey("x", std::nan(""));
  EXPECT_EQ(Json(dict), "{\"x\":0.0}");
}

TEST(JsonWriterTest, DictionaryIsWrittenInKeyOrder) {
  Value dict(Value::Type::DICTIONARY);
  dict.SetIntKey("b", 1);
  dict.SetBoolKey("a", true);
  EXPECT_EQ(Json(dict), "{\"a\":true,\"b\":1}");
  EXPECT_EQ(Json(dict, JsonWriter::kPrettyPrint),
            "{\n"
            "   \"a\": true,\n"
            "   \"b\": 1\n"
            "}\n");
}

TEST(JsonWriterTest, KeysAreEscaped) {
  Value dict(Value::Type::DICTIONARY);
  dict.SetIntKey("a\"<\n", 1);
  EXPECT_EQ(Json(dict), "{\"a\\\"\\u003C\\n\":1}");
}

TEST(JsonWriterTest, ListsAndEmptyContainers) {
  EXPECT_EQ(Json(List(Value(1), Value(2))), "[1,2]");
  EXPECT_EQ(Json(List(Value(1), Value(2)), JsonWriter::kPrettyPrint),
            "[ 1, 2 ]\n");
  EXPECT_EQ(Json(Value(Value::Type::LIST)), "[]");
  EXPECT_EQ(Json(Value(Value::Type::LIST), JsonWriter::kPrettyPrint),
            "[  ]\n");
  EXPECT_EQ(Json(Value(Value::Type::DICTIONARY)), "{}");
  EXPECT_EQ(Json(Value(Value::Type::DICTIONARY), JsonWriter::kPrettyPrint),
            "{\n\n}\n");
}

TEST(JsonWriterTest, PrettyPrintIndentsNestedContainers) {
  Value inner(Value::Type::DICTIONARY);
  inner.SetStringKey("name", "q");
  inner.SetKey("empty", Value(Value::Type::DICTIONARY));
  Value list(Value::Type::LIST);
  list.Append(Value(1));
  list.Append(std::move(inner));
  Value root(Value::Type::DICTIONARY);
  root.SetKey("list", std::move(list));
  root.SetDoubleKey("ms", 2.0);

  EXPECT_EQ(Json(root),
            "{\"list\":[1,{\"empty\":{},\"name\":\"q\"}],\"ms\":2.0}");
  // A list adds no indentation level: the dictionary inside it indents its
  // entries as a member of the list's owner would.
  EXPECT_EQ(Json(root, JsonWriter::kPrettyPrint),
            "{\n"
            "   \"list\": [ 1, {\n"
            "      \"empty\": {\n"
            "\n"
            "      },\n"
            "      \"name\": \"q\"\n"
            "   } ],\n"
            "   \"ms\": 2.0\n"
            "}\n");
}

TEST(JsonWriterTest, BinaryFailsTheWriteUnlessOmitted) {
  Value dict(Value::Type::DICTIONARY);
  dict.SetIntKey("a", 1);
  dict.SetKey("b", Value(Value::BlobStorage{1, 2}));
  dict.SetIntKey("c", 3);

  std::string out = "old text";
  EXPECT_FALSE(JsonWriter::Write(dict, &out));
  // The rest is still written after the failed entry.
  EXPECT_EQ(out, "{\"a\":1,\"b\":,\"c\":3}");

  EXPECT_EQ(Json(dict, JsonWriter::kOmitBinaryValues), "{\"a\":1,\"c\":3}");
  EXPECT_EQ(Json(dict, JsonWriter::kOmitBinaryValues |
                           JsonWriter::kPrettyPrint),
            "{\n   \"a\": 1,\n   \"c\": 3\n}\n");

  Value list = List(Value(Value::BlobStorage{}), Value(1));
  EXPECT_EQ(Json(list, JsonWriter::kOmitBinaryValues), "[1]");
  EXPECT_FALSE(JsonWriter::Write(list, &out));
  EXPECT_EQ(out, "[,1]");

  Value only_binary(Value::Type::DICTIONARY);
  only_binary.SetKey("b", Value(Value::Type::BINARY));
  EXPECT_EQ(Json(only_binary, JsonWriter::kOmitBinaryValues), "{}");

  EXPECT_FALSE(JsonWriter::Write(Value(Value::Type::BINARY), &out));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(JsonWriter::WriteWithFlags(Value(Value::Type::BINARY),
                                         JsonWriter::kOmitBinaryValues, &out));
  EXPECT_EQ(out, "");
}

TEST(JsonWriterTest, FailedPrettyWriteStillEndsWithANewline) {
  std::string out;
  EXPECT_FALSE(JsonWriter::WriteWithFlags(Value(Value::Type::BINARY),
                                          JsonWriter::kPrettyPrint, &out));
  EXPECT_EQ(out, "\n");
}

TEST(JsonWriterTest, ListsMayNest199Deep) {
  std::string out;
  EXPECT_TRUE(JsonWriter::Write(NestedLists(199), &out, 200));
  EXPECT_EQ(out, std::string(199, '[') + std::string(199, ']'));

  // The 200th list is left out, and everything around it is written.
  EXPECT_FALSE(JsonWriter::Write(NestedLists(200), &out, 200));
  EXPECT_EQ(out, std::string(199, '[') + std::string(199, ']'));
}

TEST(JsonWriterTest, DictionariesObeyTheSameDepthLimit) {
  std::string out;
  EXPECT_TRUE(JsonWriter::Write(NestedDictionaries(3), &out, 4));
  EXPECT_EQ(out, "{\"k\":{\"k\":{}}}");
  EXPECT_TRUE(JsonWriter::Write(NestedDictionaries(3), &out, 4));
  EXPECT_FALSE(JsonWriter::Write(NestedDictionaries(4), &out, 4));
  EXPECT_EQ(out, "{\"k\":{\"k\":{\"k\":}}}");
  EXPECT_FALSE(JsonWriter::Write(NestedDictionaries(2), &out, 2));
  EXPECT_EQ(out, "{\"k\":}");
  EXPECT_FALSE(JsonWriter::Write(NestedDictionaries(1), &out, 1));
  EXPECT_EQ(out, "");

  // Scalars are never too deep, even at depth 0.
  EXPECT_TRUE(JsonWriter::Write(Value(1), &out, 0));
  EXPECT_EQ(out, "1");
  EXPECT_FALSE(JsonWriter::Write(Value(Value::Type::LIST), &out, 0));
  EXPECT_EQ(out, "");
}

TEST(JsonWriterTest, SiblingsDoNotAddDepth) {
  Value list(Value::Type::LIST);
  for (int i = 0; i < 5; ++i) list.Append(NestedLists(2));
  std::string out;
  EXPECT_TRUE(JsonWriter::Write(list, &out, 4));
  EXPECT_EQ(out, "[[[]],[[]],[[]],[[]],[[]]]");
  EXPECT_FALSE(JsonWriter::Write(list, &out, 3));
  EXPECT_EQ(out, "[[],[],[],[],[]]");
}

TEST(JsonWriterTest, WriteClearsTheOutputFirst) {
  std::string out = "previous";
  EXPECT_TRUE(JsonWriter::Write(Value(1), &out));
  EXPECT_EQ(out, "1");
}

TEST(JsonWriterTest, StringsAreEscapedWithoutFailingTheWrite) {
  std::string out;
  EXPECT_TRUE(JsonWriter::Write(Value("a<b\t\x01"), &out));
  EXPECT_EQ(out, "\"a\\u003Cb\\t\\u0001\"");
  EXPECT_TRUE(JsonWriter::Write(Value("\xC3\x28"), &out));
  EXPECT_EQ(out, "\"\xEF\xBF\xBD(\"");
}

TEST(JsonWriterTest, WriterAppendsToItsOutput) {
  std::string out = "x=";
  JsonWriter writer(JsonWriter::kPrettyPrint, &out, 200);
  EXPECT_TRUE(writer.AppendValue(List(Value(1), Value("a")), 0));
  EXPECT_EQ(out, "x=[ 1, \"a\" ]");
}

TEST(JsonWriterDeathTest, MaximumDepthAboveTheAbsoluteLimitIsFatal) {
  std::string out;
  EXPECT_DEATH(JsonWriter::Write(Value(1), &out, 201),
               "Check failed: max_depth <= internal::kAbsoluteMaxDepth "
               "\\(201 vs\\. 200\\)");
  EXPECT_DEATH(JsonWriter(0, &out, 201),
               "Check failed: max_depth <= internal::kAbsoluteMaxDepth");
}

}  // namespace
}  // namespace kelmbase
