#include "base/commandlineflags.h"

#include <string>

#include "absl/flags/internal/private_handle_accessor.h"
#include "absl/flags/reflection.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using ::testing::HasSubstr;

// Variables of the V1 flags these tests register; each test registers its
// own names, since the flag registry is process-wide.
int32_t g_int = 7, g_int_default = 7;
int32_t g_qualified = 1, g_qualified_default = 1;
char g_float[8], g_float_default[8];
std::string g_text = "a", g_text_default = "a";
int32_t g_mode = 1, g_mode_default = 1;
int32_t g_validated = 5, g_validated_default = 5;
int32_t g_saved = 10, g_saved_default = 10;
uint64_t g_unsigned = 3, g_unsigned_default = 3;

absl::CommandLineFlag& Find(const char* name) {
  absl::CommandLineFlag* flag = absl::FindCommandLineFlag(name);
  EXPECT_NE(flag, nullptr) << name;
  return *flag;
}

TEST(V1FlagTest, QualifiedTypeNameIsTheLastComponent) {
  CommandLineV1Flag* flag =
      RegisterV1Flag("v1_qualified", "::plovex::int32", "help", __FILE__,
                     &g_qualified, &g_qualified_default);
  EXPECT_EQ(flag->type(), V1FlagType::kInt32);
  EXPECT_TRUE(Find("v1_qualified").IsOfType<int32_t>());
  EXPECT_EQ(Find("v1_qualified").CurrentValue(), "1");
  EXPECT_THAT(Find("v1_qualified").Filename(),
              HasSubstr("commandlineflags_unittest.cc"));
}

TEST(V1FlagTest, UnknownTypeIsLoggedAndNeverParses) {
  testing::internal::CaptureStderr();
  CommandLineV1Flag* flag = RegisterV1Flag("v1_float", "float", nullptr,
                                           __FILE__, g_float, g_float_default);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, HasSubstr("Unknown flag type 'float'"));
  EXPECT_EQ(flag->type(), V1FlagType::kUnknown);
  EXPECT_EQ(Find("v1_float").Help(), "");
  EXPECT_EQ(Find("v1_float").CurrentValue(), "");
  std::string error;
  EXPECT_FALSE(Find("v1_float").ParseFrom("1.5", &error));
  EXPECT_EQ(error, "Illegal value '1.5' specified for flag 'v1_float'");
}

TEST(V1FlagTest, ParseResults) {
  RegisterV1Flag("v1_int", "int32", "an int", __FILE__, &g_int,
                 &g_int_default);
  RegisterV1Flag("v1_text", "string", "a text", __FILE__, &g_text,
                 &g_text_default);
  absl::CommandLineFlag& int_flag = Find("v1_int");
  std::string error;
  EXPECT_FALSE(int_flag.ParseFrom("abc", &error));
  EXPECT_THAT(error,
              testing::StartsWith(
                  "Illegal value 'abc' specified for int32 flag 'v1_int'"));
  EXPECT_EQ(g_int, 7);
  EXPECT_TRUE(int_flag.ParseFrom("-12", &error));
  EXPECT_EQ(g_int, -12);
  EXPECT_EQ(int_flag.CurrentValue(), "-12");
  EXPECT_EQ(int_flag.DefaultValue(), "7");
  EXPECT_TRUE(Find("v1_text").ParseFrom("b c", &error));
  EXPECT_EQ(g_text, "b c");
}

TEST(V1FlagTest, SettingModes) {
  CommandLineV1Flag* flag = RegisterV1Flag("v1_mode", "int32", "modes",
                                           __FILE__, &g_mode, &g_mode_default);
  namespace fi = absl::flags_internal;
  std::string error;
  absl::CommandLineFlag& base = *flag;
  // Set the default while untouched: the current value follows.
  ASSERT_TRUE(fi::PrivateHandleAccessor::ParseFrom(
      base, "2", fi::SET_FLAGS_DEFAULT, fi::kProgrammaticChange, error));
  EXPECT_EQ(g_mode_default, 2);
  EXPECT_EQ(g_mode, 2);
  EXPECT_FALSE(flag->IsModified());
  // Set a value from the command line.
  ASSERT_TRUE(fi::PrivateHandleAccessor::ParseFrom(
      base, "3", fi::SET_FLAGS_VALUE, fi::kCommandLine, error));
  EXPECT_EQ(g_mode, 3);
  EXPECT_TRUE(flag->IsModified());
  EXPECT_TRUE(fi::PrivateHandleAccessor::IsSpecifiedOnCommandLine(base));
  // Set-if-default on a modified flag succeeds and changes nothing.
  ASSERT_TRUE(fi::PrivateHandleAccessor::ParseFrom(
      base, "4", fi::SET_FLAG_IF_DEFAULT, fi::kProgrammaticChange, error));
  EXPECT_EQ(g_mode, 3);
  // A new default no longer reaches a modified flag.
  ASSERT_TRUE(fi::PrivateHandleAccessor::ParseFrom(
      base, "5", fi::SET_FLAGS_DEFAULT, fi::kProgrammaticChange, error));
  EXPECT_EQ(g_mode_default, 5);
  EXPECT_EQ(g_mode, 3);
}

bool PositiveOnly(const char*, int32_t value) { return value > 0; }
bool AnyValue(const char*, int32_t) { return true; }
bool SmallOnly(const char*, int64_t value) { return value < 100; }

TEST(V1FlagTest, Validators) {
  RegisterV1Flag("v1_validated", "int32", "validated", __FILE__, &g_validated,
                 &g_validated_default);
  RegisterV1Flag("v1_unsigned", "uint64", "unsigned", __FILE__, &g_unsigned,
                 &g_unsigned_default);
  EXPECT_TRUE(RegisterV1FlagValidator(&g_validated, &PositiveOnly));
  EXPECT_TRUE(RegisterV1FlagValidator(&g_validated, &PositiveOnly));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(RegisterV1FlagValidator(&g_validated, &AnyValue));
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("Ignoring SetValidator() for flag 'v1_validated': "
                        "validate-fn already registered"));
  int32_t unregistered = 0;
  EXPECT_FALSE(RegisterV1FlagValidator(&unregistered, &PositiveOnly));

  std::string error;
  EXPECT_FALSE(Find("v1_validated").ParseFrom("-3", &error));
  EXPECT_EQ(error,
            "Failed validation of new value '-3' for flag 'v1_validated'");
  EXPECT_EQ(g_validated, 5);
  EXPECT_TRUE(Find("v1_validated").ParseFrom("8", &error));
  EXPECT_EQ(g_validated, 8);

  EXPECT_TRUE(RegisterV1FlagValidator(&g_unsigned, &SmallOnly));
  EXPECT_FALSE(Find("v1_unsigned").ParseFrom("100", &error));
  EXPECT_TRUE(Find("v1_unsigned").ParseFrom("99", &error));
  EXPECT_EQ(g_unsigned, 99u);
}

TEST(V1FlagTest, SavedStateIsRestored) {
  RegisterV1Flag("v1_saved", "int32", "saved", __FILE__, &g_saved,
                 &g_saved_default);
  absl::CommandLineFlag& flag = Find("v1_saved");
  auto state = absl::flags_internal::PrivateHandleAccessor::SaveState(flag);
  std::string error;
  ASSERT_TRUE(flag.ParseFrom("11", &error));
  testing::internal::CaptureStderr();
  state->Restore();
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_saved, 10);
  EXPECT_THAT(out, HasSubstr("Restore saved value of v1_saved to: 10"));
  // Nothing changed since the save: restoring again logs nothing.
  auto unchanged = absl::flags_internal::PrivateHandleAccessor::SaveState(flag);
  testing::internal::CaptureStderr();
  unchanged->Restore();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

struct TwoFlags {
  char bytes[200];
};
TwoFlags g_pair;
char g_pair_default[200];

TEST(V1FlagTableTest, VariablesAFullTableApartShareABucket) {
  CommandLineV1Flag* first = RegisterV1Flag(
      "v1_bucket_a", "bool", "", __FILE__, &g_pair.bytes[0], g_pair_default);
  CommandLineV1Flag* second =
      RegisterV1Flag("v1_bucket_b", "bool", "", __FILE__,
                     &g_pair.bytes[V1FlagTable::kBuckets], g_pair_default);
  CommandLineV1Flag* other = RegisterV1Flag(
      "v1_bucket_c", "bool", "", __FILE__, &g_pair.bytes[1], g_pair_default);
  std::vector<CommandLineV1Flag*> bucket =
      V1FlagTable::Get().BucketOf(&g_pair.bytes[0]);
  EXPECT_THAT(bucket, testing::Contains(first));
  EXPECT_THAT(bucket, testing::Contains(second));
  EXPECT_THAT(bucket, testing::Not(testing::Contains(other)));
  EXPECT_EQ(V1FlagTable::Get().Find(&g_pair.bytes[V1FlagTable::kBuckets]),
            second);
}

}  // namespace
}  // namespace base
