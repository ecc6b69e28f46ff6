#include "agent/base/trace_event/trace_event.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_arguments.h"
#include "agent/base/trace_event/trace_event_handle.h"
#include "agent/base/trace_event/trace_event_memory_overhead.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

const TraceCategory* Base() {
  return CategoryRegistry::Builtin(CategoryRegistry::kBase);
}

std::string Json(const TraceArgumentSet& args, size_t i) {
  std::string out;
  AppendArgumentAsJson(args.value(i), args.kind(i), &out);
  return out;
}

// Counts its destructions, to show who releases an owned argument.
class CountingConvertable : public ConvertableToTraceFormat {
 public:
  explicit CountingConvertable(int* destroyed) : destroyed_(destroyed) {}
  ~CountingConvertable() override { ++*destroyed_; }
  void AppendAsTraceFormat(std::string* out) const override {
    out->append("{\"k\":1}");
  }

 private:
  int* const destroyed_;
};

TEST(TraceArgumentsTest, JsonForms) {
  struct Case {
    const char* label;
    void (*add)(TraceArgumentSet* args);
    const char* json;
  };
  const Case kCases[] = {
      {"true", [](TraceArgumentSet* a) { a->AddBool("v", true); }, "true"},
      {"false", [](TraceArgumentSet* a) { a->AddBool("v", false); }, "false"},
      {"uint", [](TraceArgumentSet* a) { a->AddUint("v", 18446744073709551615u); },
       "18446744073709551615"},
      {"int", [](TraceArgumentSet* a) { a->AddInt("v", -42); }, "-42"},
      {"double 1", [](TraceArgumentSet* a) { a->AddDouble("v", 1.0); }, "1.0"},
      {"double 0.5", [](TraceArgumentSet* a) { a->AddDouble("v", 0.5); },
       "0.5"},
      {"double -0.5", [](TraceArgumentSet* a) { a->AddDouble("v", -0.5); },
       "-0.5"},
      {"double 1e21", [](TraceArgumentSet* a) { a->AddDouble("v", 1e21); },
       "1e+21"},
      {"NaN",
       [](TraceArgumentSet* a) {
         a->AddDouble("v", std::numeric_limits<double>::quiet_NaN());
       },
       "\"NaN\""},
      {"infinity",
       [](TraceArgumentSet* a) { a->AddDouble("v", HUGE_VAL); },
       "\"Infinity\""},
      {"minus infinity",
       [](TraceArgumentSet* a) { a->AddDouble("v", -HUGE_VAL); },
       "\"-Infinity\""},
      {"pointer",
       [](TraceArgumentSet* a) {
         a->AddPointer("v", reinterpret_cast<const void*>(0xabc));
       },
       "\"0xabc\""},
      {"string", [](TraceArgumentSet* a) { a->AddString("v", "a\"b\n"); },
       "\"a\\\"b\\n\""},
      {"null string", [](TraceArgumentSet* a) { a->AddString("v", nullptr); },
       "\"NULL\""},
      {"copied string",
       [](TraceArgumentSet* a) { a->AddCopiedString("v", "x"); }, "\"x\""},
      {"message",
       [](TraceArgumentSet* a) {
         auto message = std::make_unique<TraceArgumentMessage>();
         message->bytes = std::string("\x08\x01", 2);
         a->AddMessage("v", std::move(message));
       },
       "\"\\b\\u0001\""},
  };
  for (const Case& c : kCases) {
    TraceArgumentSet args;
    c.add(&args);
    EXPECT_EQ(Json(args, 0), c.json) << c.label;
  }
}

TEST(TraceArgumentsTest, NaturalKinds) {
  TraceArgumentSet args;
  args.Add("u", 7u);
  args.Add("i", -7);
  EXPECT_EQ(args.kind(0), TraceArgumentSet::kUint);
  EXPECT_EQ(args.kind(1), TraceArgumentSet::kInt);
  TraceArgumentSet more;
  more.Add("s", "text");
  more.Add("d", 2.5);
  EXPECT_EQ(more.kind(0), TraceArgumentSet::kString);
  EXPECT_EQ(more.kind(1), TraceArgumentSet::kDouble);
}

TEST(TraceArgumentsTest, OwnedValuesDieWithTheSetOrItsReset) {
  int destroyed = 0;
  {
    TraceArgumentSet args;
    args.AddConvertable("c", std::make_unique<CountingConvertable>(&destroyed));
    EXPECT_EQ(Json(args, 0), "{\"k\":1}");
    TraceArgumentSet moved = std::move(args);
    EXPECT_EQ(args.size(), 0u);
    EXPECT_EQ(destroyed, 0) << "moving hands the value over";
    moved.Reset();
    EXPECT_EQ(destroyed, 1);
    moved.AddConvertable("c",
                         std::make_unique<CountingConvertable>(&destroyed));
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(TraceEventTest, DefaultEvent) {
  TraceEvent event;
  EXPECT_TRUE(event.timestamp().is_null());
  EXPECT_TRUE(event.thread_timestamp().is_null());
  EXPECT_EQ(event.duration().InMicroseconds(), -1);
  EXPECT_EQ(event.thread_duration().InMicroseconds(), 0);
  EXPECT_EQ(event.thread_instruction_count(), -1);
  EXPECT_EQ(event.thread_instruction_delta(), 0);
  EXPECT_EQ(event.phase(), 'B');
  EXPECT_EQ(event.args().size(), 0u);
  EXPECT_EQ(event.category(), nullptr);
}

TEST(TraceEventTest, CopyFlagCopiesNamesAndBorrowedStrings) {
  std::string name = "event";
  std::string scope = "scope";
  std::string arg_name = "arg";
  std::string value = "value";
  TraceArgumentSet args;
  args.AddString(arg_name.c_str(), value.c_str());
  TraceEvent event(1, MonotonicTime::FromInternalValue(10), ThreadCpuTime(),
                   -1, 'I', Base(), name.c_str(), scope.c_str(), 0, 0, &args,
                   kFlagCopy);
  EXPECT_EQ(args.size(), 0u) << "the event takes the arguments over";
  name = "XXXXX";
  scope = "XXXXX";
  arg_name = "XXX";
  value = "XXXXX";
  EXPECT_STREQ(event.name(), "event");
  EXPECT_STREQ(event.scope(), "scope");
  EXPECT_STREQ(event.args().name(0), "arg");
  EXPECT_EQ(event.args().kind(0), TraceArgumentSet::kCopiedString);
  EXPECT_STREQ(event.args().value(0).as_string, "value");
}

TEST(TraceEventTest, WithoutCopyFlagOnlyCopiedStringsAreCopied) {
  static const char kName[] = "event";
  std::string copied = "copied";
  TraceArgumentSet args;
  args.AddString("borrowed", kName);
  args.AddCopiedString("copied", copied.c_str());
  TraceEvent event(1, MonotonicTime(), ThreadCpuTime(), -1, 'I', Base(),
                   kName, nullptr, 0, 0, &args, 0);
  copied = "XXXXXX";
  EXPECT_EQ(event.name(), kName);
  EXPECT_EQ(event.args().value(0).as_string, kName);
  EXPECT_STREQ(event.args().value(1).as_string, "copied");
  EXPECT_TRUE(event.has_string_storage());

  // Re-initialising the slot without strings frees the storage.
  event.Reset(1, MonotonicTime(), ThreadCpuTime(), -1, 'I', Base(), kName,
              nullptr, 0, 0, nullptr, 0);
  EXPECT_FALSE(event.has_string_storage());
  EXPECT_EQ(event.args().size(), 0u);
}

TEST(TraceEventTest, MoveFromTakesStringsAlong) {
  std::string name = "moved";
  TraceEvent source(3, MonotonicTime::FromInternalValue(5), ThreadCpuTime(),
                    -1, 'X', Base(), name.c_str(), nullptr, 9, 11, nullptr,
                    kFlagCopy | kFlagHasId);
  TraceEvent target;
  target.MoveFrom(&source);
  name = "XXXXX";
  EXPECT_STREQ(target.name(), "moved");
  EXPECT_EQ(target.id(), 9u);
  EXPECT_EQ(target.bind_id(), 11u);
  EXPECT_EQ(target.thread_id(), 3);
  EXPECT_FALSE(source.has_string_storage());
}

TEST(TraceEventTest, UpdateDuration) {
  struct Case {
    const char* label;
    int64_t thread_start;  // 0: not taken
    int64_t instructions;  // -1: not taken
    int64_t expected_thread_duration;
    int64_t expected_delta;
  };
  const Case kCases[] = {
      {"thread time and instructions", 100, 1000, 50, 500},
      {"neither taken", 0, -1, 0, 0},
  };
  for (const Case& c : kCases) {
    TraceEvent event(1, MonotonicTime::FromInternalValue(1000),
                     ThreadCpuTime::FromInternalValue(c.thread_start),
                     c.instructions, 'X', Base(), "e", nullptr, 0, 0, nullptr,
                     0);
    event.UpdateDuration(MonotonicTime::FromInternalValue(1250),
                         ThreadCpuTime::FromInternalValue(c.thread_start + 50),
                         c.instructions + 500);
    EXPECT_EQ(event.duration().InMicroseconds(), 250) << c.label;
    EXPECT_EQ(event.thread_duration().InMicroseconds(),
              c.expected_thread_duration)
        << c.label;
    EXPECT_EQ(event.thread_instruction_delta(), c.expected_delta) << c.label;
  }
}

TEST(TraceEventTest, PrettyPrinted) {
  struct Case {
    const char* label;
    void (*add)(TraceArgumentSet* args);
    const char* text;
  };
  const Case kCases[] = {
      {"no arguments", [](TraceArgumentSet*) {}, "name[base]"},
      {"one argument", [](TraceArgumentSet* a) { a->AddInt("a", 1); },
       "name[base], {a:1}"},
      {"two arguments",
       [](TraceArgumentSet* a) {
         a->AddInt("a", 1);
         a->AddString("b", "x");
       },
       "name[base], {a:1, b:\"x\"}"},
      {"first argument unnamed",
       [](TraceArgumentSet* a) { a->AddInt(nullptr, 1); }, "name[base]"},
  };
  for (const Case& c : kCases) {
    TraceArgumentSet args;
    c.add(&args);
    TraceEvent event(1, MonotonicTime(), ThreadCpuTime(), -1, 'I', Base(),
                     "name", nullptr, 0, 0, &args, 0);
    std::string text;
    event.AppendPrettyPrinted(&text);
    EXPECT_EQ(text, c.text) << c.label;
  }
}

TEST(TraceEventTest, MemoryOverheadCountsTheStringBlock) {
  TraceEvent plain(1, MonotonicTime(), ThreadCpuTime(), -1, 'I', Base(), "e",
                   nullptr, 0, 0, nullptr, 0);
  TraceEventMemoryOverhead overhead;
  plain.EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(overhead.GetCount(TraceEventMemoryOverhead::kTraceEvent), 1u);
  EXPECT_EQ(overhead.GetAllocated(TraceEventMemoryOverhead::kTraceEvent), 0u);

  TraceEvent copied(1, MonotonicTime(), ThreadCpuTime(), -1, 'I', Base(),
                    "abc", nullptr, 0, 0, nullptr, kFlagCopy);
  copied.EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(overhead.GetAllocated(TraceEventMemoryOverhead::kTraceEvent),
            sizeof(size_t) + 4);
}

TEST(TraceEventHandleTest, Layout) {
  const TraceEventHandle handle = MakeTraceEventHandle(0x12345678, 0x3FFFFFF, 63);
  EXPECT_EQ(HandleChunkSeq(handle), 0x12345678u);
  EXPECT_EQ(HandleChunkIndex(handle), 0x3FFFFFFu);
  EXPECT_EQ(HandleEventIndex(handle), 63u);
  EXPECT_EQ(handle >> 58, 63u);
  EXPECT_EQ(MakeTraceEventHandle(1, 2, 3), 1u | (2ull << 32) | (3ull << 58));
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
