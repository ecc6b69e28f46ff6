#include "agent/base/pickle.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// Bytes of a hand-made message: a payload size, then `words`.
std::vector<char> Message(uint32_t payload_size,
                          const std::vector<uint32_t>& words) {
  std::vector<char> bytes(sizeof(uint32_t) * (words.size() + 1));
  memcpy(bytes.data(), &payload_size, sizeof(payload_size));
  if (!words.empty())
    memcpy(bytes.data() + sizeof(uint32_t), words.data(),
           sizeof(uint32_t) * words.size());
  return bytes;
}

std::vector<uint8_t> Bytes(const Pickle& pickle) {
  const uint8_t* data = static_cast<const uint8_t*>(pickle.data());
  return std::vector<uint8_t>(data, data + pickle.size());
}

int32_t Int32At(const Pickle& pickle, size_t offset) {
  int32_t value;
  memcpy(&value, static_cast<const char*>(pickle.data()) + offset,
         sizeof(value));
  return value;
}

TEST(PickleTest, NewPickleIsAnEmptyHeader) {
  Pickle pickle;
  EXPECT_EQ(pickle.size(), 4u);
  EXPECT_EQ(pickle.header_size(), 4u);
  EXPECT_EQ(pickle.payload_size(), 0u);
  EXPECT_EQ(pickle.capacity_after_header(), 64u);
  EXPECT_EQ(Bytes(pickle), (std::vector<uint8_t>{0, 0, 0, 0}));

  PickleReader reader(pickle);
  int32_t value = 7;
  EXPECT_FALSE(reader.ReadInt(&value));
  EXPECT_EQ(value, 7);
}

TEST(PickleTest, IntAndStringLayout) {
  Pickle pickle;
  pickle.WriteInt(32);
  pickle.WriteString("8 bytes!");
  ASSERT_EQ(pickle.size(), 20u);
  EXPECT_EQ(pickle.payload_size(), 16u);
  EXPECT_EQ(Int32At(pickle, 0), 16);
  EXPECT_EQ(Int32At(pickle, 4), 32);
  EXPECT_EQ(Int32At(pickle, 8), 8);
  EXPECT_EQ(std::string(static_cast<const char*>(pickle.data()) + 12, 8),
            "8 bytes!");
}

TEST(PickleTest, BytesArePaddedWithZeros) {
  Pickle pickle;
  pickle.WriteInt(-1);  // Leaves 0xFF bytes in the buffer's history.
  const char kData[] = {'a', 'b', 'c', 'd', 'e'};
  pickle.WriteBytes(kData, 5);
  EXPECT_EQ(pickle.payload_size(), 12u);
  EXPECT_EQ(Bytes(pickle), (std::vector<uint8_t>{12, 0, 0, 0, 0xFF, 0xFF,
                                                 0xFF, 0xFF, 'a', 'b', 'c',
                                                 'd', 'e', 0, 0, 0}));

  pickle.WriteBytes(nullptr, 0);
  EXPECT_EQ(pickle.payload_size(), 12u);
}

TEST(PickleTest, EmptyStringIsItsLengthOnly) {
  Pickle pickle;
  pickle.WriteString("");
  EXPECT_EQ(pickle.payload_size(), 4u);
  EXPECT_EQ(Int32At(pickle, 4), 0);
}

TEST(PickleTest, Int64IsAlignedToFourOnly) {
  Pickle pickle;
  pickle.WriteInt(1);
  pickle.WriteInt64(0x0102030405060708);
  EXPECT_EQ(pickle.payload_size(), 12u);
  int64_t stored;
  memcpy(&stored, static_cast<const char*>(pickle.data()) + 8, 8);
  EXPECT_EQ(stored, 0x0102030405060708);
}

TEST(PickleTest, RoundTrip) {
  Pickle pickle;
  pickle.WriteInt(std::numeric_limits<int32_t>::min());
  pickle.WriteInt64(std::numeric_limits<int64_t>::max());
  pickle.WriteString("abc");
  pickle.WriteString(std::string("\0x\0", 3));
  pickle.WriteInt64(-2);
  pickle.WriteString("");

  PickleReader reader(pickle);
  int32_t i32;
  int64_t i64;
  std::string text;
  ASSERT_TRUE(reader.ReadInt(&i32));
  EXPECT_EQ(i32, std::numeric_limits<int32_t>::min());
  ASSERT_TRUE(reader.ReadInt64(&i64));
  EXPECT_EQ(i64, std::numeric_limits<int64_t>::max());
  ASSERT_TRUE(reader.ReadString(&text));
  EXPECT_EQ(text, "abc");
  ASSERT_TRUE(reader.ReadString(&text));
  EXPECT_EQ(text, std::string("\0x\0", 3));
  ASSERT_TRUE(reader.ReadInt64(&i64));
  EXPECT_EQ(i64, -2);
  ASSERT_TRUE(reader.ReadString(&text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(reader.ReadInt(&i32));
}

TEST(PickleTest, CapacityDoublesThenStaysBelowPageMultiples) {
  Pickle pickle;
  std::vector<size_t> capacities = {pickle.capacity_after_header()};
  for (int i = 0; i < 70000 / 4; ++i) {
    pickle.WriteInt(i);
    if (pickle.capacity_after_header() != capacities.back())
      capacities.push_back(pickle.capacity_after_header());
  }
  EXPECT_EQ(capacities,
            (std::vector<size_t>{64, 128, 256, 512, 1024, 2048, 4096, 8128,
                                 16320, 32704, 65472, 131008}));

  // Everything written is still there after the moves.
  PickleReader reader(pickle);
  int32_t value = -1;
  for (int i = 0; i < 70000 / 4; ++i) {
    ASSERT_TRUE(reader.ReadInt(&value));
    ASSERT_EQ(value, i);
  }
}

TEST(PickleTest, LargeWriteJumpsToItsOwnSize) {
  const std::string big(1000, 'x');
  Pickle first_write;
  first_write.WriteBytes(big.data(), 1000);
  EXPECT_EQ(first_write.capacity_after_header(), 1024u);

  Pickle past_64;
  for (int i = 0; i < 16; ++i) past_64.WriteInt(i);
  EXPECT_EQ(past_64.capacity_after_header(), 64u);
  past_64.WriteInt(16);
  EXPECT_EQ(past_64.capacity_after_header(), 128u);

  Pickle odd;
  odd.WriteBytes(big.data(), 130);
  EXPECT_EQ(odd.capacity_after_header(), 192u);
}

TEST(PickleTest, ResizeRoundsUpToSixtyFour) {
  Pickle pickle;
  pickle.WriteInt(5);
  pickle.Resize(65);
  EXPECT_EQ(pickle.capacity_after_header(), 128u);
  PickleReader reader(pickle);
  int32_t value;
  ASSERT_TRUE(reader.ReadInt(&value));
  EXPECT_EQ(value, 5);
}

TEST(PickleTest, ViewReadsInPlace) {
  Pickle source;
  source.WriteInt(17);
  source.WriteString("text");
  Pickle view(static_cast<const char*>(source.data()), source.size());
  EXPECT_EQ(view.data(), source.data());
  EXPECT_EQ(view.header_size(), 4u);
  EXPECT_EQ(view.payload_size(), 12u);
  EXPECT_EQ(view.capacity_after_header(), Pickle::kCapacityReadOnly);

  PickleReader reader(view);
  int32_t value;
  std::string text;
  ASSERT_TRUE(reader.ReadInt(&value));
  EXPECT_EQ(value, 17);
  ASSERT_TRUE(reader.ReadString(&text));
  EXPECT_EQ(text, "text");
}

TEST(PickleTest, ViewWithALongerHeader) {
  // Header of 8 bytes: payload size 4, one extra word, then the payload.
  std::vector<char> bytes = Message(4, {0xAAAAAAAA, 99});
  Pickle view(bytes.data(), bytes.size());
  EXPECT_EQ(view.header_size(), 8u);
  EXPECT_EQ(view.payload(), bytes.data() + 8);
  PickleReader reader(view);
  int32_t value;
  ASSERT_TRUE(reader.ReadInt(&value));
  EXPECT_EQ(value, 99);
  EXPECT_FALSE(reader.ReadInt(&value));
}

TEST(PickleTest, MalformedViewsAreEmpty) {
  const struct {
    const char* what;
    std::vector<char> bytes;
  } kCases[] = {
      {"three bytes", {1, 0, 0}},
      {"payload size equals the length", Message(8, {5})},
      {"payload size exceeds the length", Message(100, {5})},
      {"header size 6", [] {
         std::vector<char> bytes = Message(4, {5, 6});
         bytes.resize(10);
         return bytes;
       }()},
  };
  for (const auto& c : kCases) {
    Pickle view(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(view.data(), nullptr) << c.what;
    EXPECT_EQ(view.size(), 0u) << c.what;
    EXPECT_EQ(view.payload_size(), 0u) << c.what;
    PickleReader reader(view);
    int32_t value = 3;
    EXPECT_FALSE(reader.ReadInt(&value)) << c.what;
    EXPECT_EQ(value, 3) << c.what;
  }
}

TEST(PickleTest, FailedReadsLeaveTheReaderAtTheEnd) {
  const struct {
    const char* what;
    std::vector<uint32_t> payload;
  } kCases[] = {
      {"negative length", {static_cast<uint32_t>(-1), 0x41414141, 7}},
      {"length past the payload", {9, 0x41414141, 0x41414141}},
  };
  for (const auto& c : kCases) {
    std::vector<char> bytes =
        Message(static_cast<uint32_t>(4 * c.payload.size()), c.payload);
    Pickle view(bytes.data(), bytes.size());
    PickleReader reader(view);
    std::string text = "unchanged";
    EXPECT_FALSE(reader.ReadString(&text)) << c.what;
    EXPECT_EQ(text, "unchanged") << c.what;
    // There are whole words left, but the reader is at the end.
    int32_t value;
    EXPECT_FALSE(reader.ReadInt(&value)) << c.what;
  }
}

TEST(PickleTest, ShortInt64FailsAndEndsTheReader) {
  Pickle pickle;
  pickle.WriteInt(1);
  PickleReader reader(pickle);
  int64_t wide = 5;
  EXPECT_FALSE(reader.ReadInt64(&wide));
  EXPECT_EQ(wide, 5);
  int32_t narrow;
  EXPECT_FALSE(reader.ReadInt(&narrow));
}

TEST(PickleTest, StringWithoutItsFinalPaddingStillReads) {
  // Payload: length 5 and "hello" without the 3 padding bytes.
  std::vector<char> bytes(4 + 4 + 5);
  uint32_t payload_size = 9;
  int32_t length = 5;
  memcpy(bytes.data(), &payload_size, 4);
  memcpy(bytes.data() + 4, &length, 4);
  memcpy(bytes.data() + 8, "hello", 5);
  Pickle view(bytes.data(), bytes.size());
  ASSERT_EQ(view.header_size(), 4u);
  PickleReader reader(view);
  std::string text;
  ASSERT_TRUE(reader.ReadString(&text));
  EXPECT_EQ(text, "hello");
  int32_t value;
  EXPECT_FALSE(reader.ReadInt(&value));
}

class CountedAttachment : public Pickle::Attachment {
 public:
  explicit CountedAttachment(int* destroyed) : destroyed_(destroyed) {}

 private:
  ~CountedAttachment() override { ++*destroyed_; }
  int* destroyed_;
};

TEST(PickleTest, AttachmentsAreRefusedAndReleased) {
  Pickle pickle;
  int destroyed = 0;
  EXPECT_FALSE(pickle.AddAttachment(
      scoped_refptr<Pickle::Attachment>(new CountedAttachment(&destroyed))));
  EXPECT_EQ(destroyed, 1);

  scoped_refptr<Pickle::Attachment> kept(new CountedAttachment(&destroyed));
  EXPECT_FALSE(pickle.AddAttachment(kept));
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(pickle.HasAttachments());

  PickleReader reader(pickle);
  scoped_refptr<Pickle::Attachment> out;
  EXPECT_FALSE(pickle.GetAttachment(&reader, &out));
  EXPECT_EQ(out.get(), nullptr);
}

TEST(PickleDeathTest, ViewCannotGrowOrBeWritten) {
  Pickle source;
  source.WriteInt(1);
  Pickle view(static_cast<const char*>(source.data()), source.size());
  EXPECT_DEATH(view.Resize(128),
               "Check failed: capacity_after_header_ != kCapacityReadOnly\n");
  // Writing would overwrite bytes that the view does not own.
  EXPECT_DEATH(view.WriteInt(2),
               "Check failed: capacity_after_header_ != kCapacityReadOnly\n");
  Pickle empty_view(nullptr, 0);
  EXPECT_DEATH(empty_view.WriteString("x"),
               "Check failed: capacity_after_header_ != kCapacityReadOnly\n");
}

TEST(PickleDeathTest, NegativeByteCountIsFatal) {
  Pickle pickle;
  char byte = 0;
  EXPECT_DEATH(pickle.WriteBytes(&byte, -1), "Check failed: length >= 0");
}

}  // namespace
}  // namespace kelmbase
