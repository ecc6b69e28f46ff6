#include "agent/base/path_service.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "agent/base/base_paths.h"
#include "agent/base/base_paths_posix.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "devtools/build/runtime/get_runfiles_dir.h"
#include "agent/base/test/scoped_environment_restorer.h"
#include "agent/base/test/test_temp_dir.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::atomic<int> g_older_calls{0};
std::atomic<int> g_newer_calls{0};
std::atomic<int> g_threaded_calls{0};
std::string g_answer_dir;

// The path table is process-wide and caches every answer: each test starts
// from a fresh table, with no provider of an earlier test, and zeroed
// provider counters.
class PathServiceTest : public testing::Test {
 protected:
  static constexpr const char* kVariables[] = {
      "HOME",           "TMPDIR",          "XDG_CONFIG_HOME",
      "XDG_CACHE_HOME", "xdg_config_home", "xdg_cache_home"};

  void SetUp() override {
    PathService::ResetForTesting();
    g_older_calls = 0;
    g_newer_calls = 0;
    g_threaded_calls = 0;
    g_answer_dir.clear();
    // A fixed umask, so that what the test makes does not depend on the
    // caller's.
    old_umask_ = umask(022);
    ASSERT_NE(nullptr, getcwd(old_cwd_, sizeof(old_cwd_)));
    if (!make_temp_dir_) return;
    // Made before any test changes TMPDIR.
    const std::string dir = test::CreateTestTempDir("kelm_path_service_");
    ASSERT_FALSE(dir.empty());
    temp_dir_ = MakeAbsoluteFilePath(FilePath(dir));
  }

  void TearDown() override {
    PathService::ResetForTesting();
    umask(old_umask_);
    ASSERT_EQ(0, chdir(old_cwd_));
    std::error_code ignored;
    std::filesystem::remove_all(temp_dir_.value(), ignored);
  }

  FilePath temp_dir_;
  bool make_temp_dir_ = true;
  char old_cwd_[4096];
  kelmbase::test::ScopedEnvironmentRestorer saved_environment_{kVariables};
  mode_t old_umask_ = 0;
};

// A death test runs SetUp again in a child that dies before TearDown: it
// gets no temporary folder, which would be left behind.
class PathServiceDeathTest : public PathServiceTest {
 protected:
  PathServiceDeathTest() { make_temp_dir_ = false; }
};

// Providers for made-up keys. Each counts its calls.
constexpr int kCountedKey = 9001;
constexpr int kOlderOnlyKey = 9002;
constexpr int kEmptyAnswerKey = 9003;
constexpr int kParentRefKey = 9004;
constexpr int kMissingParentRefKey = 9005;
constexpr int kRelativeKey = 9006;
constexpr int kUnknownKey = 9999;

bool OlderProvider(int key, FilePath* result) {
  ++g_older_calls;
  EXPECT_TRUE(result->empty()) << "providers get an empty path";
  switch (key) {
    case kCountedKey:
      *result = FilePath("/older");
      return true;
    case kOlderOnlyKey:
      *result = FilePath("/older/only");
      return true;
    case kEmptyAnswerKey:
      *result = FilePath("/older/nonempty");
      return true;
    default:
      return false;
  }
}

bool NewerProvider(int key, FilePath* result) {
  ++g_newer_calls;
  EXPECT_TRUE(result->empty()) << "providers get an empty path";
  switch (key) {
    case kCountedKey:
      *result = FilePath("/newer");
      return true;
    case kEmptyAnswerKey:
      *result = FilePath();
      return true;
    case kParentRefKey:
      *result = FilePath(g_answer_dir).Append("sub/../file");
      return true;
    case kMissingParentRefKey:
      *result = FilePath(g_answer_dir).Append("sub/../missing");
      return true;
    case kRelativeKey:
      *result = FilePath("relative/./path");
      return true;
    default:
      return false;
  }
}

TEST_F(PathServiceTest, NewestProviderAnswersFirstAndIsCached) {
  PathService::AddProvider(OlderProvider, 9000, 9010);
  PathService::AddProvider(NewerProvider, 9000, 9010);

  FilePath path;
  ASSERT_TRUE(PathService::Get(kCountedKey, &path));
  EXPECT_EQ(FilePath("/newer"), path);
  EXPECT_EQ(1, g_newer_calls);
  EXPECT_EQ(0, g_older_calls);

  // Answered from the cache: no provider runs again.
  path = FilePath();
  ASSERT_TRUE(PathService::Get(kCountedKey, &path));
  EXPECT_EQ(FilePath("/newer"), path);
  EXPECT_EQ(1, g_newer_calls);

  // The newer provider declines; the older one answers.
  ASSERT_TRUE(PathService::Get(kOlderOnlyKey, &path));
  EXPECT_EQ(FilePath("/older/only"), path);
  EXPECT_EQ(1, g_older_calls);
}

TEST_F(PathServiceTest, EmptyAnswerFailsWithoutAskingFurther) {
  PathService::AddProvider(OlderProvider, 9000, 9010);
  PathService::AddProvider(NewerProvider, 9000, 9010);

  FilePath path("unchanged");
  EXPECT_FALSE(PathService::Get(kEmptyAnswerKey, &path));
  EXPECT_EQ(FilePath("unchanged"), path);
  EXPECT_EQ(0, g_older_calls);
  // Failures are not cached: the chain runs again.
  EXPECT_FALSE(PathService::Get(kEmptyAnswerKey, &path));
  EXPECT_EQ(2, g_newer_calls);
}

TEST_F(PathServiceTest, UnknownKeyFails) {
  FilePath path("unchanged");
  EXPECT_FALSE(PathService::Get(kUnknownKey, &path));
  EXPECT_EQ(FilePath("unchanged"), path);
}

TEST_F(PathServiceDeathTest, GetRequired) {
  PathService::AddProvider(NewerProvider, 9000, 9010);
  EXPECT_EQ(FilePath("/newer"), PathService::GetRequired(kCountedKey));
  EXPECT_DEATH(PathService::GetRequired(kUnknownKey),
               "Failed to get the path for 9999");
}

TEST_F(PathServiceTest, ParentReferencesAreResolved) {
  ASSERT_EQ(0, mkdir(temp_dir_.Append("sub").value().c_str(), 0700));
  ASSERT_EQ(1, WriteFile(temp_dir_.Append("file"), "x", 1));
  g_answer_dir = temp_dir_.value();
  PathService::AddProvider(NewerProvider, 9000, 9010);

  FilePath path;
  ASSERT_TRUE(PathService::Get(kParentRefKey, &path));
  EXPECT_EQ(temp_dir_.Append("file"), path);

  EXPECT_FALSE(PathService::Get(kMissingParentRefKey, &path));

  // Other paths, relative ones included, come back as given.
  ASSERT_TRUE(PathService::Get(kRelativeKey, &path));
  EXPECT_EQ(FilePath("relative/./path"), path);
}

TEST_F(PathServiceTest, ResetForTestingStartsOver) {
  PathService::AddProvider(NewerProvider, 9000, 9010);
  setenv("HOME", "/home/first", 1);
  FilePath path;
  ASSERT_TRUE(PathService::Get(kCountedKey, &path));
  ASSERT_TRUE(PathService::Get(DIR_HOME, &path));
  EXPECT_EQ(FilePath("/home/first"), path);

  PathService::ResetForTesting();
  setenv("HOME", "/home/second", 1);
  // The added provider is gone, the cached answer forgotten, and the
  // built-in providers still answer.
  EXPECT_FALSE(PathService::Get(kCountedKey, &path));
  ASSERT_TRUE(PathService::Get(DIR_HOME, &path));
  EXPECT_EQ(FilePath("/home/second"), path);
}

TEST_F(PathServiceTest, CurrentDirectoryIsNeverCached) {
  ASSERT_EQ(0, mkdir(temp_dir_.Append("a").value().c_str(), 0700));
  ASSERT_EQ(0, chdir(temp_dir_.value().c_str()));
  FilePath path;
  ASSERT_TRUE(PathService::Get(DIR_CURRENT, &path));
  EXPECT_EQ(temp_dir_, path);
  ASSERT_EQ(0, chdir("a"));
  ASSERT_TRUE(PathService::Get(DIR_CURRENT, &path));
  EXPECT_EQ(temp_dir_.Append("a"), path);
}

TEST_F(PathServiceTest, EnvironmentKeysKeepTheirFirstAnswer) {
  setenv("HOME", "/home/first", 1);
  setenv("TMPDIR", "/tmp/first", 1);
  FilePath path;
  ASSERT_TRUE(PathService::Get(DIR_HOME, &path));
  EXPECT_EQ(FilePath("/home/first"), path);
  ASSERT_TRUE(PathService::Get(DIR_TEMP, &path));
  EXPECT_EQ(FilePath("/tmp/first"), path);

  setenv("HOME", "/home/second", 1);
  setenv("TMPDIR", "/tmp/second", 1);
  ASSERT_TRUE(PathService::Get(DIR_HOME, &path));
  EXPECT_EQ(FilePath("/home/first"), path);
  ASSERT_TRUE(PathService::Get(DIR_TEMP, &path));
  EXPECT_EQ(FilePath("/tmp/first"), path);
}

TEST_F(PathServiceTest, HomeFallsBackToTempDir) {
  setenv("HOME", "", 1);
  setenv("TMPDIR", "/scratch", 1);
  FilePath path;
  ASSERT_TRUE(PathService::Get(DIR_HOME, &path));
  EXPECT_EQ(FilePath("/scratch"), path);
}

TEST_F(PathServiceTest, ProgramKeys) {
  FilePath exe;
  ASSERT_TRUE(PathService::Get(FILE_EXE, &exe));
  EXPECT_EQ(FilePath(devtools_build::GetProgramPath()), exe);
  EXPECT_TRUE(PathExists(exe));

  FilePath path;
  ASSERT_TRUE(PathService::Get(FILE_MODULE, &path));
  EXPECT_EQ(exe, path);
  ASSERT_TRUE(PathService::Get(DIR_EXE, &path));
  EXPECT_EQ(exe.DirName(), path);
  ASSERT_TRUE(PathService::Get(DIR_MODULE, &path));
  EXPECT_EQ(exe.DirName(), path);
}

TEST_F(PathServiceTest, SourceRootAndAssetsFromWorkingDirectory) {
  // Without runfiles beside the program, the source tree is looked for
  // above the working directory.
  FilePath work = temp_dir_.Append("work");
  ASSERT_EQ(0, mkdir(work.value().c_str(), 0700));
  ASSERT_EQ(0, chdir(work.value().c_str()));
  FilePath root = temp_dir_.Append("plovex3/third_party/ambrel/agent");

  FilePath path;
  ASSERT_TRUE(PathService::Get(DIR_SOURCE_ROOT, &path));
  EXPECT_EQ(root, path);
  ASSERT_TRUE(PathService::Get(DIR_ASSETS, &path));
  EXPECT_EQ(root, path);

  // Test data only where it exists.
  EXPECT_FALSE(PathService::Get(DIR_TEST_DATA, &path));
  FilePath data = root.Append("base/test/data");
  ASSERT_TRUE(CreateDirectory(data));
  ASSERT_TRUE(PathService::Get(DIR_TEST_DATA, &path));
  EXPECT_EQ(data, path);
}

TEST_F(PathServiceTest, CacheDirectoryFromEnvironment) {
  setenv("XDG_CACHE_HOME", "/var/cache/me/", 1);
  FilePath path;
  ASSERT_TRUE(PathService::Get(DIR_CACHE, &path));
  EXPECT_EQ(FilePath("/var/cache/me"), path);
}

TEST_F(PathServiceTest, CacheDirectoryUnderHome) {
  setenv("HOME", "/home/u", 1);
  setenv("XDG_CACHE_HOME", "", 1);
  unsetenv("xdg_cache_home");
  FilePath path;
  ASSERT_TRUE(PathService::Get(DIR_CACHE, &path));
  EXPECT_EQ(FilePath("/home/u/.cache"), path);
}

TEST_F(PathServiceTest, DesktopFromUserDirs) {
  setenv("HOME", temp_dir_.value().c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  ASSERT_TRUE(CreateDirectory(temp_dir_.Append(".config")));
  std::string config = "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n";
  ASSERT_EQ(static_cast<int>(config.size()),
            WriteFile(temp_dir_.Append(".config/user-dirs.dirs"),
                      config.data(), static_cast<int>(config.size())));
  FilePath path;
  ASSERT_TRUE(PathService::Get(DIR_USER_DESKTOP, &path));
  EXPECT_EQ(temp_dir_.Append("Schreibtisch"), path);
}

TEST_F(PathServiceTest, DesktopWithoutHome) {
  unsetenv("HOME");
  FilePath path;
  ASSERT_TRUE(PathService::Get(DIR_USER_DESKTOP, &path));
  EXPECT_EQ(FilePath("/tmp"), path);
}

bool ThreadedProvider(int key, FilePath* result) {
  if (key != 9500) return false;
  ++g_threaded_calls;
  *result = FilePath("/threaded");
  return true;
}

bool NeverAsked(int key, FilePath* result) { return false; }

TEST_F(PathServiceTest, ConcurrentLookupsAndRegistrations) {
  PathService::AddProvider(ThreadedProvider, 9500, 9500);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 200; ++i) {
        if (t == 0 && i % 20 == 0) {
          PathService::AddProvider(NeverAsked, 9600, 9600);
        }
        FilePath path;
        if (!PathService::Get(9500, &path) || path != FilePath("/threaded")) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, failures);
  // Concurrent first lookups may each ask the provider; later ones hit the
  // cache.
  EXPECT_GE(g_threaded_calls, 1);
  EXPECT_LE(g_threaded_calls, 4);
}

}  // namespace
}  // namespace kelmbase
