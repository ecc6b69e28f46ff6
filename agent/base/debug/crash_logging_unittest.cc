#include "agent/base/debug/crash_logging.h"

#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {

struct CrashKeyString {
  std::string name;
  size_t size;
  std::string value;
};

namespace {

class RecordingBackEnd : public CrashKeyImplementation {
 public:
  CrashKeyString* Allocate(const char* name, size_t value_size) override {
    key_ = CrashKeyString{name, value_size, ""};
    return &key_;
  }
  void Set(CrashKeyString* key, StringPiece value) override {
    key->value.assign(value.data(), value.size());
  }
  CrashKeyString key_;
};

TEST(CrashKeyTest, WithoutBackEndNothingHappens) {
  EXPECT_EQ(AllocateCrashKey("key", 64), nullptr);
  SetCrashKeyValue(nullptr, "value");
}

TEST(CrashKeyTest, InstalledBackEndGetsKeysAndValues) {
  auto owned = std::make_unique<RecordingBackEnd>();
  RecordingBackEnd* back_end = owned.get();
  EXPECT_EQ(SetCrashKeyImplementation(std::move(owned)), nullptr);
  CrashKeyString* key = AllocateCrashKey("sequence", 64);
  ASSERT_EQ(key, &back_end->key_);
  EXPECT_EQ(key->name, "sequence");
  EXPECT_EQ(key->size, 64u);
  SetCrashKeyValue(key, "queue 3");
  EXPECT_EQ(key->value, "queue 3");
  SetCrashKeyValue(nullptr, "ignored");
  EXPECT_NE(SetCrashKeyImplementation(nullptr), nullptr);
  EXPECT_EQ(AllocateCrashKey("after", 8), nullptr);
}

}  // namespace
}  // namespace debug
}  // namespace kelmbase
