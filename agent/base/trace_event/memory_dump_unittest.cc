#include <cstring>
#include <memory>
#include <string>

#include "agent/base/sha1.h"
#include "agent/base/trace_event/memory_dump_allow_lists.h"
#include "agent/base/trace_event/memory_dump_manager.h"
#include "agent/base/trace_event/memory_dump_provider.h"
#include "agent/base/trace_event/process_dump.h"
#include "agent/base/trace_event/trace_event_memory_overhead.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

class FakeProvider : public MemoryDumpProvider {
 public:
  bool WriteMemoryDump(const MemoryDumpArgs&, ProcessDump*) override {
    return true;
  }
};

TEST(MemoryDumpManagerTest, RegisterTwiceUnregisterOnce) {
  MemoryDumpManager* manager = MemoryDumpManager::GetInstance();
  const size_t before = manager->GetRegistrations().size();
  FakeProvider provider;
  manager->RegisterDumpProvider(&provider, "Malloc", nullptr);
  manager->RegisterDumpProvider(&provider, "Malloc", nullptr);
  EXPECT_EQ(manager->GetRegistrations().size(), before + 1);
  EXPECT_TRUE(manager->IsRegistered(&provider));

  bool found = false;
  for (const auto& registration : manager->GetRegistrations()) {
    if (registration->provider() != &provider)
      continue;
    found = true;
    EXPECT_STREQ(registration->name(), "Malloc");
    EXPECT_TRUE(registration->allowed_in_background());
  }
  EXPECT_TRUE(found);

  manager->UnregisterDumpProvider(&provider);
  EXPECT_FALSE(manager->IsRegistered(&provider));
  EXPECT_EQ(manager->GetRegistrations().size(), before);

  FakeProvider unknown;
  manager->UnregisterDumpProvider(&unknown);  // Ignored.
  EXPECT_EQ(manager->GetRegistrations().size(), before);
}

TEST(MemoryDumpAllowListTest, ProviderNames) {
  EXPECT_TRUE(IsDumpProviderAllowedInBackground("PartitionAlloc"));
  EXPECT_FALSE(IsDumpProviderAllowedInBackground("TraceLog"));
  EXPECT_FALSE(IsDumpProviderAllowedInBackground("partitionalloc"));
}

TEST(MemoryDumpAllowListTest, DumpNames) {
  struct Case {
    const char* name;
    bool allowed;
  };
  const Case kCases[] = {
      {"global/1a2B3c", true},
      {"global/", true},
      {"global/xyz", false},
      {"shared_memory/0123456789abcdef", true},
      {"shared_memory/12g", false},
      {"malloc", true},
      {"malloc/partition_0x7f00aa", true},   // folded to partition_0x?
      {"malloc/partition_0x", true},         // "0x" alone folds too
      {"malloc/partition_7f00aa", false},
      {"tracing/main_trace_log", true},
      {"v8/isolate_0xABCDEF/heap_0x1", false},  // two numbers: no such row
      {"v8/isolate_0xABCDEF", true},
      {"unknown/thing", false},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(IsAllocatorDumpNameAllowedInBackground(c.name), c.allowed)
        << c.name;
}

TEST(ProcessDumpTest, BackgroundDumpsOnlyAllowedNames) {
  ProcessDump dump(1, 2, ProcessDump::kBackgroundLevelOfDetail);
  AllocatorDump* allowed = dump.CreateAllocatorDump("malloc");
  AllocatorDump* rejected = dump.CreateAllocatorDump("secret/thing");
  AllocatorDump* rejected_too = dump.CreateAllocatorDump("other/thing");
  EXPECT_EQ(allowed->name(), "malloc");
  EXPECT_EQ(rejected->name(), "discarded");
  EXPECT_EQ(rejected, rejected_too) << "one discard dump per process dump";
  EXPECT_EQ(dump.allocator_dumps().size(), 1u);
  EXPECT_EQ(dump.CreateAllocatorDump("malloc"), allowed)
      << "the same name returns the same dump";
}

TEST(ProcessDumpTest, DumpIdIsTheStartOfASha1) {
  ProcessDump dump(0x1, 0xABC, /*level_of_detail=*/2);
  const std::string text =
      "0000000000000001" "0000000000000ABC" ":malloc";
  uint8_t digest[20];
  Sha1Hash(text.data(), text.size(), digest);
  uint64_t expected;
  memcpy(&expected, digest, sizeof(expected));
  EXPECT_EQ(dump.GetDumpId("malloc"), expected);
  EXPECT_EQ(dump.CreateAllocatorDump("malloc")->id(), expected);
}

TEST(TraceEventMemoryOverheadTest, DumpsTypesWithAllocatedBytes) {
  TraceEventMemoryOverhead overhead;
  overhead.Add(TraceEventMemoryOverhead::kTraceEvent, 10);
  overhead.Add(TraceEventMemoryOverhead::kTraceEvent, 30, 20);
  overhead.Add(TraceEventMemoryOverhead::kOther, 0);  // No bytes: no dump.
  TraceEventMemoryOverhead total;
  total.Update(overhead);
  EXPECT_EQ(total.GetCount(TraceEventMemoryOverhead::kTraceEvent), 2u);

  ProcessDump dump(0, 0, /*level_of_detail=*/2);
  total.DumpInto("base", &dump);
  ASSERT_EQ(dump.allocator_dumps().size(), 1u);
  const AllocatorDump* event_dump = dump.GetAllocatorDump("base/TraceEvent");
  ASSERT_NE(event_dump, nullptr);
  EXPECT_EQ(event_dump->FindEntry("size")->value_uint64, 40u);
  EXPECT_EQ(event_dump->FindEntry("size")->units, "bytes");
  EXPECT_EQ(event_dump->FindEntry("resident_size")->value_uint64, 30u);
  EXPECT_EQ(event_dump->FindEntry("object_count")->value_uint64, 2u);
  EXPECT_EQ(event_dump->FindEntry("object_count")->units, "objects");
}

TEST(TraceEventMemoryOverheadDeathTest, TypeOutOfRange) {
  TraceEventMemoryOverhead overhead;
  EXPECT_DEATH(overhead.GetCount(TraceEventMemoryOverhead::kLast),
               "Check failed: object_type < kLast\n");
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
