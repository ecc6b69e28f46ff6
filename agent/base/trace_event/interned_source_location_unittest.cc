#include "agent/base/trace_event/interned_source_location.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"
#include "agent/base/trace_event/perfetto_standin/tracing/trace_packet_writer.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

using protozero::ProtoFieldReader;

// Interning ids are 64-bit wherever they are handed out or written.
static_assert(std::is_same_v<decltype(InternedSourceLocation::Get(
                                 std::declval<perfetto::EventContext*>(),
                                 std::declval<const TraceSourceLocation&>())),
                             uint64_t>);
static_assert(std::is_same_v<decltype(&InternedSourceLocation::Add),
                             void (*)(protozero::Message*, uint64_t,
                                      const TraceSourceLocation&)>);

const char kFile[] = "agent/base/run_loop.cc";
const char kFunction[] = "Run";

class InternedSourceLocationTest : public testing::Test {
 protected:
  uint64_t Intern(const TraceSourceLocation& location) {
    perfetto::EventContext context(nullptr, writer_.incremental_state());
    return InternedSourceLocation::Get(&context, location);
  }
  // The interned-data entries (field 4) written so far, as one packet.
  std::vector<std::string> Entries() {
    writer_.NewPacket();
    writer_.FinishPacket();
    const ProtoFieldReader packet(writer_.packets().back());
    std::vector<std::string> entries;
    if (const auto* interned = packet.Find(12)) {
      const ProtoFieldReader interned_data(interned->bytes);
      for (const auto* entry : interned_data.FindAll(4))
        entries.push_back(entry->bytes);
    }
    return entries;
  }

  perfetto::TracePacketWriter writer_;
};

TEST_F(InternedSourceLocationTest, FirstSightWritesAnEntryLaterOnesDoNot) {
  const TraceSourceLocation location{kFunction, kFile, 10};
  EXPECT_EQ(Intern(location), 1u);
  std::vector<std::string> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  const ProtoFieldReader entry(entries[0]);
  ASSERT_EQ(entry.fields().size(), 3u);
  EXPECT_EQ(entry.Find(1)->varint, 1u);
  EXPECT_EQ(entry.Find(2)->bytes, kFile);
  EXPECT_EQ(entry.Find(3)->bytes, kFunction);

  EXPECT_EQ(Intern(location), 1u);
  EXPECT_TRUE(Entries().empty());
}

TEST_F(InternedSourceLocationTest, KeysCompareByPointerAndLine) {
  const std::string file_copy = kFile;
  EXPECT_EQ(Intern({kFunction, kFile, 10}), 1u);
  EXPECT_EQ(Intern({kFunction, kFile, 11}), 2u) << "another line";
  EXPECT_EQ(Intern({kFunction, file_copy.c_str(), 10}), 3u)
      << "equal text at another address is another key";
  EXPECT_EQ(Intern({kFunction, kFile, 10}), 1u);
  EXPECT_EQ(Entries().size(), 3u);
}

TEST_F(InternedSourceLocationTest, NullFunctionNameWritesTwoFields) {
  EXPECT_EQ(Intern({nullptr, kFile, 3}), 1u);
  const std::vector<std::string> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  const ProtoFieldReader entry(entries[0]);
  EXPECT_EQ(entry.fields().size(), 2u);
  EXPECT_EQ(entry.Find(3), nullptr);
}

TEST_F(InternedSourceLocationTest, EachSequenceStartsAtOne) {
  EXPECT_EQ(Intern({kFunction, kFile, 1}), 1u);
  perfetto::TracePacketWriter other;
  perfetto::EventContext context(nullptr, other.incremental_state());
  EXPECT_EQ(InternedSourceLocation::Get(&context, {kFunction, kFile, 2}), 1u);
}

// Keys equal in their fields but made in memory with different padding
// bytes must hash alike, or one location gets two ids.
TEST_F(InternedSourceLocationTest, PaddingBytesDoNotSplitEqualKeys) {
  static_assert(sizeof(TraceSourceLocation) > 2 * sizeof(void*) + 4,
                "the key has padding after the line number");
  alignas(TraceSourceLocation) unsigned char storage[4][sizeof(
      TraceSourceLocation)];
  TraceSourceLocation* keys[4];
  for (int i = 0; i < 4; ++i) {
    memset(storage[i], 0x11 * (i + 1), sizeof(storage[i]));
    keys[i] = new (storage[i]) TraceSourceLocation;
    keys[i]->function_name = kFunction;
    keys[i]->file_name = kFile;
    keys[i]->line_number = 42;
  }
  // Placement default-initialisation leaves the padding as it was.
  for (int i = 1; i < 4; ++i)
    EXPECT_EQ(keys[i]->Hash(), keys[0]->Hash()) << i;
  for (TraceSourceLocation* key : keys)
    EXPECT_EQ(Intern(*key), 1u);
  EXPECT_EQ(Entries().size(), 1u);
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
