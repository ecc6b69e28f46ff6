#include "agent/base/values.h"

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::string TypeName(Value::Type type) {
  std::ostringstream out;
  out << type;
  return out.str();
}

std::vector<std::string> Keys(const Value& dict) {
  std::vector<std::string> keys;
  for (const auto& entry : dict.GetDict()) keys.push_back(entry.first);
  return keys;
}

std::vector<std::string> Components(const char* path) {
  std::vector<std::string> components;
  DottedPathSplitter splitter(path);
  StringPiece component;
  while (splitter.Next(&component))
    components.emplace_back(component.data(), component.size());
  return components;
}

TEST(ValueTest, TypeConstructorGivesTheDefaultOfEachKind) {
  EXPECT_TRUE(Value(Value::Type::NONE).is_none());
  EXPECT_FALSE(Value(Value::Type::BOOLEAN).GetBool());
  EXPECT_EQ(Value(Value::Type::INTEGER).GetInt(), 0);
  Value dbl(Value::Type::DOUBLE);
  EXPECT_TRUE(dbl.is_double());
  EXPECT_EQ(dbl.GetDouble(), 0.0);
  EXPECT_EQ(Value(Value::Type::STRING).GetString(), "");
  EXPECT_TRUE(Value(Value::Type::BINARY).GetBlob().empty());
  EXPECT_TRUE(Value(Value::Type::DICTIONARY).GetDict().empty());
  EXPECT_TRUE(Value(Value::Type::LIST).GetList().empty());
  EXPECT_TRUE(Value().is_none());

  for (uint32_t index = 0; index <= 7; ++index) {
    Value::Type type = static_cast<Value::Type>(index);
    EXPECT_EQ(Value(type).type(), type) << index;
  }
}

TEST(ValueTest, ScalarConstructorsPickTheKindOfTheArgument) {
  EXPECT_TRUE(Value(true).GetBool());
  EXPECT_EQ(Value(-7).GetInt(), -7);
  EXPECT_EQ(Value(2.5).GetDouble(), 2.5);
  EXPECT_EQ(Value("text").GetString(), "text");
  EXPECT_EQ(Value(StringPiece("piece")).GetString(), "piece");
  EXPECT_EQ(Value(std::string("moved")).GetString(), "moved");
  Value blob(Value::BlobStorage{1, 2, 3});
  EXPECT_EQ(blob.type(), Value::Type::BINARY);
  EXPECT_EQ(blob.GetBlob(), (Value::BlobStorage{1, 2, 3}));
}

TEST(ValueTest, NonFiniteDoublesAreStoredAsZero) {
  EXPECT_EQ(Value(std::numeric_limits<double>::quiet_NaN()).GetDouble(), 0.0);
  EXPECT_EQ(Value(std::numeric_limits<double>::infinity()).GetDouble(), 0.0);
  EXPECT_EQ(Value(-std::numeric_limits<double>::infinity()).GetDouble(), 0.0);

  Value dict(Value::Type::DICTIONARY);
  Value* stored =
      dict.SetDoubleKey("x", std::numeric_limits<double>::quiet_NaN());
  ASSERT_NE(stored, nullptr);
  EXPECT_TRUE(stored->is_double());
  EXPECT_EQ(dict.FindKey("x")->GetDouble(), 0.0);
}

TEST(ValueTest, GetDoubleConvertsIntegers) {
  EXPECT_EQ(Value(41).GetDouble(), 41.0);
  EXPECT_EQ(Value(std::numeric_limits<int>::min()).GetDouble(),
            static_cast<double>(std::numeric_limits<int>::min()));
}

TEST(ValueDeathTest, GetDoubleOfAnotherKindIsFatal) {
  EXPECT_DEATH(Value("1.5").GetDouble(), "Check failed: false");
  EXPECT_DEATH(Value(true).GetDouble(), "Check failed: false");
}

TEST(ValueDeathTest, TypedGettersOfAnotherKindAbort) {
  Value number(3);
  EXPECT_DEATH(number.GetBool(), "");
  EXPECT_DEATH(number.GetString(), "");
  EXPECT_DEATH(number.GetList(), "");
  EXPECT_DEATH(number.GetDict(), "");
  EXPECT_DEATH(Value(true).GetInt(), "");
  EXPECT_DEATH(number.Append(Value(1)), "");
  EXPECT_DEATH(number.FindKey("a"), "");
}

TEST(ValueTest, MoveKeepsTheKindOfTheSource) {
  Value text("long enough to live on the heap, not in the small buffer");
  Value moved(std::move(text));
  EXPECT_EQ(moved.GetString(),
            "long enough to live on the heap, not in the small buffer");
  EXPECT_TRUE(text.is_string());  // NOLINT(bugprone-use-after-move)

  Value list(Value::Type::LIST);
  list.Append(Value(1));
  Value target(5);
  target = std::move(list);
  ASSERT_TRUE(target.is_list());
  EXPECT_EQ(target.GetList().size(), 1u);
  EXPECT_TRUE(list.is_list());  // NOLINT(bugprone-use-after-move)
}

TEST(ValueTest, AppendBuildsTheListInOrder) {
  Value list(Value::Type::LIST);
  list.Append(Value(1));
  list.Append(Value("two"));
  Value inner(Value::Type::LIST);
  inner.Append(Value(true));
  list.Append(std::move(inner));

  const Value::ListStorage& elements = list.GetList();
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_EQ(elements[0].GetInt(), 1);
  EXPECT_EQ(elements[1].GetString(), "two");
  ASSERT_EQ(elements[2].GetList().size(), 1u);
  EXPECT_TRUE(elements[2].GetList()[0].GetBool());
}

TEST(ValueTest, DictionaryKeysStaySortedByteWise) {
  Value dict(Value::Type::DICTIONARY);
  for (const char* key : {"b", "a", "ab", "", "B", "\xC3\xA9", "a"})
    dict.SetIntKey(key, 1);
  EXPECT_EQ(Keys(dict), (std::vector<std::string>{"", "B", "a", "ab", "b",
                                                  "\xC3\xA9"}));
}

TEST(ValueTest, KeysWithEmbeddedNulAreDistinct) {
  Value dict(Value::Type::DICTIONARY);
  dict.SetIntKey(StringPiece("a\0b", 3), 1);
  dict.SetIntKey(StringPiece("a", 1), 2);
  EXPECT_EQ(dict.GetDict().size(), 2u);
  EXPECT_EQ(dict.FindKey(StringPiece("a\0b", 3))->GetInt(), 1);
  EXPECT_EQ(dict.FindKey("a")->GetInt(), 2);
  EXPECT_EQ(dict.FindKey(StringPiece("a\0", 2)), nullptr);
}

TEST(ValueTest, SetKeyReplacesAndReturnsTheStoredValue) {
  Value dict(Value::Type::DICTIONARY);
  Value* first = dict.SetKey("k", Value(1));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, dict.FindKey("k"));

  Value* second = dict.SetKey(StringPiece("k"), Value("now text"));
  EXPECT_EQ(dict.GetDict().size(), 1u);
  EXPECT_EQ(second, dict.FindKey("k"));
  EXPECT_EQ(second->GetString(), "now text");

  auto owned = std::make_unique<Value>(Value::Type::LIST);
  Value* raw = owned.get();
  EXPECT_EQ(dict.SetKeyOwned("k", std::move(owned)), raw);
  EXPECT_EQ(dict.FindKey("k"), raw);
}

TEST(ValueTest, TypedSettersStoreTheirKinds) {
  Value dict(Value::Type::DICTIONARY);
  dict.SetBoolKey("bool", true);
  dict.SetIntKey("int", 12);
  dict.SetDoubleKey("double", 0.25);
  dict.SetStringKey("chars", "c");
  dict.SetStringKey("piece", StringPiece("p"));
  std::string lvalue = "l";
  dict.SetStringKey("lvalue", lvalue);
  dict.SetStringKey("rvalue", std::string("r"));

  EXPECT_TRUE(dict.FindKey("bool")->GetBool());
  EXPECT_EQ(dict.FindKey("int")->GetInt(), 12);
  EXPECT_EQ(dict.FindKey("double")->GetDouble(), 0.25);
  EXPECT_EQ(dict.FindKey("chars")->GetString(), "c");
  EXPECT_EQ(dict.FindKey("piece")->GetString(), "p");
  EXPECT_EQ(dict.FindKey("lvalue")->GetString(), "l");
  EXPECT_EQ(dict.FindKey("rvalue")->GetString(), "r");
  EXPECT_EQ(dict.FindKey("missing"), nullptr);
}

TEST(ValueTest, FindStringKeyOnlyFindsStrings) {
  Value dict(Value::Type::DICTIONARY);
  dict.SetStringKey("name", "queue");
  dict.SetIntKey("size", 3);
  ASSERT_NE(dict.FindStringKey("name"), nullptr);
  EXPECT_EQ(*dict.FindStringKey("name"), "queue");
  EXPECT_EQ(dict.FindStringKey("size"), nullptr);
  EXPECT_EQ(dict.FindStringKey("absent"), nullptr);
}

TEST(ValueDeathTest, SettingAKeyOnANonDictionaryIsFatal) {
  Value list(Value::Type::LIST);
  EXPECT_DEATH(list.SetKey("a", Value(1)), "Check failed: is_dict\\(\\)");
  EXPECT_DEATH(list.SetIntKey("a", 1), "Check failed: is_dict\\(\\)");
}

TEST(ValueDeathTest, StoringANullValueIsFatal) {
  Value dict(Value::Type::DICTIONARY);
  EXPECT_DEATH(dict.SetKeyOwned("a", nullptr), "Check failed: value");
  DictionaryValue paths;
  EXPECT_DEATH(paths.Set("a.b", nullptr), "Check failed: value");
}

TEST(ValueDeathTest, FindPathOnANonDictionaryIsFatal) {
  Value number(1);
  EXPECT_DEATH(number.FindPath("a"), "Check failed: is_dict\\(\\)");
}

TEST(ValueTest, DestroyingADictionaryDestroysItsTree) {
  // Leaks of the owned entries show under the address sanitizer.
  Value dict(Value::Type::DICTIONARY);
  Value* inner = dict.SetKey("inner", Value(Value::Type::DICTIONARY));
  inner->SetStringKey("text", std::string(100, 'x'));
  Value list(Value::Type::LIST);
  list.Append(Value(std::string(100, 'y')));
  inner->SetKey("list", std::move(list));
  dict.SetKey("inner", Value(1));
  EXPECT_EQ(dict.FindKey("inner")->GetInt(), 1);
}

TEST(DottedPathSplitterTest, SplitsAtDots) {
  EXPECT_EQ(Components(""), std::vector<std::string>{});
  EXPECT_EQ(Components("a"), std::vector<std::string>{"a"});
  EXPECT_EQ(Components("a.b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Components("a."), std::vector<std::string>{"a"});
  EXPECT_EQ(Components(".a"), (std::vector<std::string>{"", "a"}));
  EXPECT_EQ(Components("a..b"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Components("."), std::vector<std::string>{""});
}

class FindPathTest : public testing::Test {
 protected:
  void SetUp() override {
    dict_.SetIntKey("", 5);
    Value* a = dict_.SetKey("a", Value(Value::Type::DICTIONARY));
    a->SetIntKey("b", 1);
    Value list(Value::Type::LIST);
    list.Append(Value(2));
    a->SetKey("list", std::move(list));
  }

  Value dict_{Value::Type::DICTIONARY};
};

TEST_F(FindPathTest, FollowsNestedDictionaries) {
  const Value* found = dict_.FindPath("a.b");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->GetInt(), 1);
  EXPECT_EQ(dict_.FindPath(""), &dict_);
  EXPECT_EQ(dict_.FindPath("a."), dict_.FindKey("a"));
  EXPECT_EQ(dict_.FindPath(".")->GetInt(), 5);
}

TEST_F(FindPathTest, StopsAtMissingComponentsAndNonDictionaries) {
  EXPECT_EQ(dict_.FindPath("a.b.c"), nullptr);
  EXPECT_EQ(dict_.FindPath("a.x"), nullptr);
  EXPECT_EQ(dict_.FindPath("x.b"), nullptr);
  EXPECT_EQ(dict_.FindPath("a.list.0"), nullptr);
  EXPECT_EQ(dict_.FindPath(".a"), nullptr);
}

TEST_F(FindPathTest, FindListPathOnlyFindsLists) {
  const Value* list = dict_.FindListPath("a.list");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetList()[0].GetInt(), 2);
  EXPECT_EQ(dict_.FindListPath("a.b"), nullptr);
  EXPECT_EQ(dict_.FindListPath("a"), nullptr);
  EXPECT_EQ(dict_.FindListPath("nothing"), nullptr);
}

TEST(DictionaryValueTest, SetMakesIntermediateDictionaries) {
  DictionaryValue dict;
  EXPECT_TRUE(dict.is_dict());
  Value* stored = dict.Set("a.b.c", std::make_unique<Value>(3));
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored, dict.FindPath("a.b.c"));
  EXPECT_EQ(stored->GetInt(), 3);

  // An existing intermediate dictionary is reused, not replaced.
  dict.Set("a.b.d", std::make_unique<Value>(4));
  EXPECT_EQ(dict.FindPath("a.b.c")->GetInt(), 3);
  EXPECT_EQ(dict.FindPath("a.b.d")->GetInt(), 4);
}

TEST(DictionaryValueTest, SetReplacesANonDictionaryOnThePath) {
  DictionaryValue dict;
  dict.SetIntKey("a", 1);
  dict.Set("a.b", std::make_unique<Value>(true));
  const Value* a = dict.FindKey("a");
  ASSERT_TRUE(a->is_dict());
  EXPECT_EQ(Keys(*a), std::vector<std::string>{"b"});
  EXPECT_TRUE(a->FindKey("b")->GetBool());
}

TEST(DictionaryValueTest, SetWithATrailingDotStoresUnderTheEmptyKey) {
  DictionaryValue dict;
  dict.Set("a.", std::make_unique<Value>(1));
  ASSERT_TRUE(dict.FindKey("a")->is_dict());
  EXPECT_EQ(dict.FindKey("a")->FindKey("")->GetInt(), 1);
}

TEST(DictionaryValueTest, SetLiteralKeyKeepsDots) {
  DictionaryValue dict;
  dict.SetLiteralKey("a.b", std::make_unique<Value>(1));
  EXPECT_EQ(Keys(dict), std::vector<std::string>{"a.b"});
  EXPECT_EQ(dict.FindPath("a.b"), nullptr);
  EXPECT_EQ(dict.FindKey("a.b")->GetInt(), 1);
}

TEST(DictionaryValueTest, SetStringStoresTextAtAPath) {
  DictionaryValue dict;
  Value* stored = dict.SetString("x.y", "value");
  EXPECT_EQ(stored->GetString(), "value");
  EXPECT_EQ(*dict.FindPath("x")->FindStringKey("y"), "value");
}

TEST(ValueTest, CloneCopiesTheWholeTree) {
  Value original(Value::Type::DICTIONARY);
  Value* inner = original.SetKey("inner", Value(Value::Type::LIST));
  inner->Append(Value("text"));
  inner->Append(Value(Value::BlobStorage{9}));
  original.SetDoubleKey("d", 1.5);

  Value copy = original.Clone();
  original.FindKey("inner")->Append(Value(1));
  original.SetIntKey("d", 0);

  const Value* copied = copy.FindKey("inner");
  ASSERT_NE(copied, nullptr);
  ASSERT_EQ(copied->GetList().size(), 2u);
  EXPECT_EQ(copied->GetList()[0].GetString(), "text");
  EXPECT_EQ(copied->GetList()[1].GetBlob(), Value::BlobStorage{9});
  EXPECT_EQ(copy.FindKey("d")->GetDouble(), 1.5);
}

TEST(ValueTest, TypesPrintTheirNames) {
  const struct {
    uint32_t index;
    const char* name;
  } kCases[] = {
      {0, "null"},   {1, "boolean"}, {2, "integer"},    {3, "double"},
      {4, "string"}, {5, "binary"},  {6, "dictionary"}, {7, "list"},
      {8, "Invalid Type (index = 8)"},
      {9, "Invalid Type (index = 9)"},
      {0xFFFFFFFFu, "Invalid Type (index = 4294967295)"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(TypeName(static_cast<Value::Type>(c.index)), c.name) << c.index;
}

}  // namespace
}  // namespace kelmbase
