#include "agent/base/debug/activity_user_data.h"

#include <cstring>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {
namespace {

constexpr size_t kBlockSize = 1024;
constexpr size_t kRecordsStart = sizeof(OwnerStamp);

struct alignas(8) Block {
  char bytes[kBlockSize] = {};
};

std::string ValueOf(const ActivityUserData& data, const std::string& name) {
  const ActivityUserData::ValueInfo& info = data.values().at(name);
  return std::string(info.memory, info.size->load());
}

TEST(ActivityUserDataTest, WithoutMemoryEverySetIsDropped) {
  ActivityUserData data;
  EXPECT_EQ(data.Set("name", 1, "v", 1), nullptr);
  EXPECT_TRUE(data.values().empty());
}

TEST(ActivityUserDataTest, RecordSizes) {
  struct Case {
    const char* name;
    size_t value_size;
    size_t taken;
  } cases[] = {
      {"a", 1, 8},        // The byte goes into the name's padding.
      {"ab", 1, 16},      // 6 + 2 fills 8 bytes: no spare byte.
      {"abc", 0, 16},     // A value of no bytes still needs the header.
      {"a", 2, 16},       // Two bytes do not fit the padding.
      {"name", 9, 16 + 16},
  };
  for (const Case& c : cases) {
    Block block;
    ActivityUserData data(block.bytes, sizeof(block.bytes));
    const size_t before = data.available();
    const std::string value(c.value_size, 'v');
    void* stored = data.Set(c.name, 7, value.data(), value.size());
    EXPECT_NE(stored, nullptr) << c.name;
    EXPECT_EQ(before - data.available(), c.taken) << c.name << c.value_size;
    EXPECT_EQ(ValueOf(data, c.name), value) << c.name;
  }
}

TEST(ActivityUserDataTest, ValuesAreCutToTheRoomLeft) {
  Block block;
  ActivityUserData data(block.bytes, sizeof(block.bytes));
  const std::string big(5000, 'x');
  ASSERT_NE(data.Set("big", 1, big.data(), big.size()), nullptr);
  EXPECT_EQ(data.available(), 0u);
  EXPECT_EQ(ValueOf(data, "big").size(), kBlockSize - kRecordsStart - 16);
  // A full block takes no new names.
  EXPECT_EQ(data.Set("more", 1, "y", 1), nullptr);
}

TEST(ActivityUserDataTest, ExistingNameKeepsItsRoomAndType) {
  Block block;
  ActivityUserData data(block.bytes, sizeof(block.bytes));
  ASSERT_NE(data.Set("k", 3, "abcd", 4), nullptr);
  const size_t left = data.available();
  ASSERT_NE(data.Set("k", 9, "0123456789abcdef", 16), nullptr);
  EXPECT_EQ(data.available(), left);
  EXPECT_EQ(ValueOf(data, "k"), "01234567");  // Room of align8(4).
  EXPECT_EQ(data.values().at("k").type, 3);
  ASSERT_NE(data.Set("k", 3, "z", 1), nullptr);
  EXPECT_EQ(ValueOf(data, "k"), "z");
}

TEST(ActivityUserDataTest, LongNamesAreCut) {
  Block block;
  ActivityUserData data(block.bytes, sizeof(block.bytes));
  const std::string name(300, 'n');
  ASSERT_NE(data.Set(name, 1, "v", 1), nullptr);
  EXPECT_EQ(data.values().begin()->first, name.substr(0, 255));
}

TEST(ActivityUserDataTest, AnotherStoreImportsTheRecords) {
  Block block;
  {
    ActivityUserData writer(block.bytes, sizeof(block.bytes));
    writer.Set("a", 1, "x", 1);
    writer.Set("long", 2, "hello world", 11);
    writer.Set("empty", 3, nullptr, 0);
  }
  ActivityUserData reader(block.bytes, sizeof(block.bytes));
  ASSERT_EQ(reader.values().size(), 3u);
  EXPECT_EQ(ValueOf(reader, "a"), "x");
  EXPECT_EQ(ValueOf(reader, "long"), "hello world");
  EXPECT_EQ(reader.values().at("long").type, 2);
  EXPECT_EQ(ValueOf(reader, "empty"), "");
  // New records go after the imported ones.
  ASSERT_NE(reader.Set("next", 4, "n", 1), nullptr);
  ActivityUserData again(block.bytes, sizeof(block.bytes));
  EXPECT_EQ(again.values().size(), 4u);
}

// A block holding one good record ("ok"), then a second record whose header
// the case damages. Import must keep the first and stop at the second.
TEST(ActivityUserDataTest, ImportStopsAtRecordsThatDoNotFit) {
  struct Case {
    const char* what;
    uint16_t record_size;
    uint8_t name_size;
    uint16_t value_size;
  } cases[] = {
      {"record size 0", 0, 3, 0},
      {"record larger than the block", 2048, 3, 0},
      {"record size not a multiple of 8", 13, 3, 0},
      {"name larger than the record", 16, 40, 0},
      {"value larger than the room", 24, 3, 9},
      {"value in the padding of a name without a spare byte", 8, 2, 1},
  };
  for (const Case& c : cases) {
    Block block;
    {
      ActivityUserData writer(block.bytes, sizeof(block.bytes));
      writer.Set("ok", 1, "good", 4);
      writer.Set("bad", 1, "12345678", 8);
    }
    // "ok" takes 8 + 8 bytes; "bad" starts right after.
    auto* bad =
        reinterpret_cast<UserDataRecord*>(block.bytes + kRecordsStart + 16);
    bad->record_size = c.record_size;
    bad->name_size = c.name_size;
    bad->value_size.store(c.value_size);
    ActivityUserData reader(block.bytes, sizeof(block.bytes));
    EXPECT_EQ(reader.values().size(), 1u) << c.what;
    EXPECT_EQ(ValueOf(reader, "ok"), "good") << c.what;
  }
}

TEST(ActivityUserDataTest, ChangedOwnerStopsWrites) {
  Block block;
  ActivityUserData data(block.bytes, sizeof(block.bytes));
  ASSERT_NE(data.Set("a", 1, "x", 1), nullptr);
  reinterpret_cast<OwnerStamp*>(block.bytes)->data_id.fetch_add(1);
  EXPECT_EQ(data.Set("b", 1, "y", 1), nullptr);
  EXPECT_EQ(data.Set("a", 1, "z", 1), nullptr);
}

TEST(ActivityUserDataTest, FreshBlockGetsAnOwner) {
  Block block;
  ActivityUserData data(block.bytes, sizeof(block.bytes), 4321);
  auto* stamp = reinterpret_cast<OwnerStamp*>(block.bytes);
  EXPECT_NE(stamp->data_id.load(), 0u);
  EXPECT_EQ(stamp->process_id, 4321);
  EXPECT_NE(stamp->create_stamp, 0);
}

}  // namespace
}  // namespace debug
}  // namespace kelmbase
