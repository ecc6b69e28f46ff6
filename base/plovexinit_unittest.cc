#include "base/plovexinit.h"

#include <new>
#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace {

using ::testing::HasSubstr;

void Nothing() {}

ModuleInitializer g_first("test_type", "shared_name", &Nothing);

TEST(ModuleInitializerTest, RegistrationsAreFiledByTypeAndName) {
  absl::MutexLock lock(&ModuleInitializerRegistry::mutex());
  ModuleInitializerRegistry::TypeTable* table =
      ModuleInitializerRegistry::GetType("test_type");
  ASSERT_EQ(table->initializers().count("shared_name"), 1u);
  const InitializerData& data = table->initializers().at("shared_name");
  EXPECT_EQ(data.initializer_obj, &g_first);
  EXPECT_TRUE(data.initializer_obj_constructed);
  EXPECT_TRUE(data.dependencies.empty());
  // The framework's own two, which never run here.
  ModuleInitializerRegistry::TypeTable* modules =
      ModuleInitializerRegistry::GetType("module");
  EXPECT_EQ(modules->initializers().count("command_line_flags_parsing"), 1u);
  EXPECT_EQ(modules->initializers().count("command_line_flags_parsed"), 1u);
  EXPECT_FALSE(modules->executed());
}

TEST(ModuleInitializerDeathTest, SecondInitializerWithTheSameNameIsFatal) {
  EXPECT_DEATH(ModuleInitializer("test_type", "shared_name", &Nothing),
               "Check failed: idata->initializer_obj == init \\(0x[0-9a-f]+ "
               "vs. 0x[0-9a-f]+\\) There is more than one initializer with "
               "name 'shared_name'");
}

TEST(ModuleInitializerDeathTest, ConstructingTheSameObjectTwiceIsFatal) {
  EXPECT_DEATH(
      {
        alignas(ModuleInitializer) static char storage[sizeof(
            ModuleInitializer)];
        new (storage) ModuleInitializer("test_type", "twice", &Nothing);
        new (storage) ModuleInitializer("test_type", "twice", &Nothing);
      },
      "Check failed: !idata->initializer_obj_constructed : Multiple "
      "occurrences of initializer 'twice'");
}

TEST(ModuleInitializerTest, LateRegistrationIsLoggedAndKept) {
  {
    absl::MutexLock lock(&ModuleInitializerRegistry::mutex());
    ModuleInitializerRegistry::GetType("late_type")->MarkExecuted();
  }
  testing::internal::CaptureStderr();
  static ModuleInitializer late("late_type", "latecomer", &Nothing);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_THAT(out, HasSubstr("Registering initializer 'latecomer' too late: "
                             "some initializers of type 'late_type' have "
                             "executed"));
  absl::MutexLock lock(&ModuleInitializerRegistry::mutex());
  EXPECT_EQ(ModuleInitializerRegistry::GetType("late_type")
                ->initializers()
                .at("latecomer")
                .initializer_obj,
            &late);
}

TEST(ModuleInitializerDeathTest, FrameworkInitializersRefuseToRun) {
  absl::MutexLock lock(&ModuleInitializerRegistry::mutex());
  ModuleInitializerRegistry::TypeTable* modules =
      ModuleInitializerRegistry::GetType("module");
  ModuleInitializer::InitFunction parsing =
      modules->initializers().at("command_line_flags_parsing")
          .initializer_obj->init();
  ModuleInitializer::InitFunction parsed =
      modules->initializers().at("command_line_flags_parsed")
          .initializer_obj->init();
  EXPECT_DEATH(parsing(),
               "Check failed: doing_command_line_flags_parsing Can't call "
               "REQUIRE_MODULE_INITIALIZED\\(command_line_flags_parsing\\): "
               "InitPlovex does it for you.");
  EXPECT_DEATH(parsed(),
               "Check failed: after_command_line_flags_parsing Can't call "
               "REQUIRE_MODULE_INITIALIZED\\(command_line_flags_parsed\\)");
}

}  // namespace
