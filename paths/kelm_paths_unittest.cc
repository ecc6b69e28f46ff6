#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "agent/base/base_paths.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/path_service.h"
#include "agent/base/test/scoped_environment_restorer.h"
#include "agent/base/test/test_temp_dir.h"
#include "gtest/gtest.h"
#include "paths/kelm_core_paths.h"
#include "paths/kelm_paths.h"

namespace kelm_core {
namespace {

using kelmbase::FilePath;
using kelmbase::PathService;

// The path table is process-wide and caches every answer: each test starts
// from a fresh table holding the two product providers, registered in the
// order RegisterPathProviders uses (which registers once per process only).
class KelmPathsTest : public testing::Test {
 protected:
  static constexpr const char* kVariables[] = {"HOME", "TMPDIR"};

  void SetUp() override {
    setenv("HOME", "/home/u", 1);
    // A fixed umask, so that what the test makes does not depend on the
    // caller's.
    old_umask_ = umask(022);
    ASSERT_NE(nullptr, getcwd(old_cwd_, sizeof(old_cwd_)));
    if (make_temp_dir_) {
      const std::string dir = kelmbase::test::CreateTestTempDir("kelm_paths_");
      ASSERT_FALSE(dir.empty());
      temp_dir_ = kelmbase::MakeAbsoluteFilePath(FilePath(dir));
    }
    PathService::ResetForTesting();
    vantorel::RegisterPathProvider();
    PathService::AddProvider(PathProvider, PATH_START, PATH_END);
  }

  void TearDown() override {
    PathService::ResetForTesting();
    umask(old_umask_);
    ASSERT_EQ(0, chdir(old_cwd_));
    std::error_code ignored;
    std::filesystem::remove_all(temp_dir_.value(), ignored);
  }

  // Makes `temp_dir_/work` the working directory, so that (with no runfiles
  // beside the test program) the source root is
  // `temp_dir_/plovex3/third_party/ambrel/agent`.
  FilePath EnterWorkDirectory() {
    FilePath work = temp_dir_.Append("work");
    EXPECT_TRUE(kelmbase::CreateDirectory(work));
    EXPECT_EQ(0, chdir(work.value().c_str()));
    return temp_dir_.Append("plovex3/third_party/ambrel/agent");
  }

  static std::optional<std::string> Lookup(int key) {
    FilePath path;
    if (!PathService::Get(key, &path)) return std::nullopt;
    return path.value();
  }

  FilePath temp_dir_;
  bool make_temp_dir_ = true;
  char old_cwd_[4096];
  kelmbase::test::ScopedEnvironmentRestorer saved_environment_{kVariables};
  mode_t old_umask_ = 0;
};

// A death test runs SetUp again in a child that dies before TearDown: it
// gets no temporary folder, which would be left behind.
class KelmPathsDeathTest : public KelmPathsTest {
 protected:
  KelmPathsDeathTest() { make_temp_dir_ = false; }
};

TEST_F(KelmPathsTest, FilesUnderKelmHome) {
  struct Case {
    int key;
    const char* expected;
  } const cases[] = {
      {vantorel::DIR_KELM_HOME, "/home/u/.config/kelm_shell"},
      {vantorel::FILE_DEVICE_CONFIG, "/home/u/.config/kelm_shell/.vaskel.conf"},
      {vantorel::FILE_DEVICE_CRL, "/home/u/.config/kelm_shell/.vaskel.crl"},
      {vantorel::FILE_BROWSER_CONFIG,
       "/home/u/.config/kelm_shell/.kelm_browser.conf"},
      {FILE_CLIENT_CERT, "/home/u/.config/kelm_shell/certs/client.crt"},
      {FILE_CLIENT_KEY, "/home/u/.config/kelm_shell/certs/client.key.bin"},
      {DIR_DRM_DATA, "/home/u/.config/kelm_shell/tolvane"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, Lookup(c.key)) << "key " << c.key;
  }
  EXPECT_EQ("/home/u/.config/kelm_shell/certs/client.crt",
            GetClientCertPath());
  EXPECT_EQ("/home/u/.config/kelm_shell/certs/client.key.bin",
            GetClientKeyPath());
}

TEST_F(KelmPathsTest, KelmHomeFallsBackToTempDir) {
  setenv("HOME", "", 1);
  setenv("TMPDIR", "/scratch", 1);
  EXPECT_EQ("/scratch/.config/kelm_shell/certs/client.crt",
            GetClientCertPath());
}

TEST_F(KelmPathsTest, KeysNobodyServes) {
  for (int key : {5000, 5014, 8000, 8006, 5015, 7999, 8007}) {
    EXPECT_EQ(std::nullopt, Lookup(key)) << "key " << key;
  }
  FilePath path;
  EXPECT_FALSE(PathProvider(5000, &path));
  EXPECT_FALSE(PathProvider(5014, &path));
  EXPECT_FALSE(PathProvider(8001, &path));
  EXPECT_FALSE(vantorel::PathProvider(8000, &path));
  EXPECT_FALSE(vantorel::PathProvider(8006, &path));
  EXPECT_FALSE(vantorel::PathProvider(5001, &path));
}

TEST_F(KelmPathsTest, UnconfiguredPathsLogAndFail) {
  struct Case {
    int key;
    const char* what;
  } const cases[] = {
      {FILE_LOG, "log file"},
      {FILE_CRASH_UPLOADER, "crash uploader"},
      {DIR_CRASH_DUMPS, "crash dumps"},
      {FILE_DUMPSTATE, "dumpstate"},
      {FILE_DUMPSTATE_LOG_TOOL, "dumpstate log retrieval utility"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(std::nullopt, Lookup(c.key)) << "key " << c.key;
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos,
              log.find(std::string("kelm_core_paths.cc:")))
        << log;
    EXPECT_NE(std::string::npos,
              log.find(std::string("] Returning empty ") + c.what +
                       " path as the OEM configuration file has empty path "
                       "specified\n"))
        << log;
    EXPECT_EQ('E', log[0]) << log;

    // Answered with an empty path by the provider itself.
    FilePath path("x");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(PathProvider(c.key, &path));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(path.empty());
  }
}

TEST_F(KelmPathsTest, ModelFilesBesideTheProgram) {
  FilePath exe_dir;
  ASSERT_TRUE(PathService::Get(kelmbase::DIR_EXE, &exe_dir));
  FilePath path;
  ASSERT_TRUE(PathProvider(FILE_MODEL_CERT, &path));
  EXPECT_EQ(exe_dir.Append("../certs/model.crt"), path);
  path = FilePath();
  ASSERT_TRUE(PathProvider(FILE_MODEL_KEY, &path));
  EXPECT_EQ(exe_dir.Append("../certs/model.key.bin"), path);

  // The parent reference makes the service resolve them, which fails while
  // the files do not exist.
  if (!kelmbase::PathExists(exe_dir.Append("../certs/model.crt"))) {
    EXPECT_EQ(std::nullopt, Lookup(FILE_MODEL_CERT));
  }
  if (!kelmbase::PathExists(exe_dir.Append("../certs/model.key.bin"))) {
    EXPECT_EQ(std::nullopt, Lookup(FILE_MODEL_KEY));
  }
}

TEST_F(KelmPathsTest, SavedVolumes) {
  FilePath path("/given");
  ASSERT_TRUE(PathProvider(DIR_SAVED_VOLUMES, &path));
  EXPECT_EQ(FilePath("/given/ambrel_saved_volumes"), path);
  // Through the service the provider starts from an empty path.
  EXPECT_EQ("ambrel_saved_volumes", Lookup(DIR_SAVED_VOLUMES));
}

TEST_F(KelmPathsTest, ShellPakUnderAssets) {
  FilePath root = EnterWorkDirectory();
  EXPECT_EQ(root.Append("assets/kelm_shell.pak").value(),
            Lookup(vantorel::FILE_SHELL_PAK));
}

TEST_F(KelmPathsTest, LocalesWithoutCommonAssets) {
  EnterWorkDirectory();
  EXPECT_EQ(std::nullopt, Lookup(DIR_COMMON_ASSETS));
  EXPECT_EQ(std::nullopt, Lookup(DIR_LOCALES));
  // A "vantorel_locales" directory in the working directory answers,
  // relative as it is.
  ASSERT_EQ(0, mkdir("vantorel_locales", 0700));
  EXPECT_EQ("vantorel_locales", Lookup(DIR_LOCALES));
}

TEST_F(KelmPathsTest, CommonAssetsBesideSourceRoot) {
  FilePath root = EnterWorkDirectory();
  FilePath assets = root.DirName().Append("common/assets");
  ASSERT_TRUE(kelmbase::CreateDirectory(assets.Append("vantorel_locales")));
  // The generated copy is only the second choice.
  ASSERT_TRUE(kelmbase::CreateDirectory(
      root.Append("genfiles/third_party/ambrel/common/assets")));
  EXPECT_EQ(assets.value(), Lookup(DIR_COMMON_ASSETS));
  EXPECT_EQ(assets.Append("vantorel_locales").value(), Lookup(DIR_LOCALES));
}

TEST_F(KelmPathsTest, CommonAssetsFromGeneratedFiles) {
  FilePath root = EnterWorkDirectory();
  FilePath assets = root.Append("genfiles/third_party/ambrel/common/assets");
  ASSERT_TRUE(kelmbase::CreateDirectory(assets));
  EXPECT_EQ(assets.value(), Lookup(DIR_COMMON_ASSETS));
  // No locales inside: not served.
  EXPECT_EQ(std::nullopt, Lookup(DIR_LOCALES));
}

TEST_F(KelmPathsTest, SecondRegistrationRegistersNothing) {
  // Whether or not this is the process's first call, the providers have
  // been registered once it returns.
  RegisterPathProviders();
  PathService::ResetForTesting();
  RegisterPathProviders();
  // Had the second call registered them again, they would answer.
  EXPECT_EQ(std::nullopt, Lookup(FILE_CLIENT_CERT));
  EXPECT_EQ(std::nullopt, Lookup(vantorel::DIR_KELM_HOME));
  EXPECT_EQ("certs/client.crt", GetClientCertPath());
}

// A provider that breaks the keys the product providers depend on.
bool BrokenBaseKeys(int key, FilePath* result) {
  switch (key) {
    case vantorel::DIR_KELM_HOME:
    case kelmbase::DIR_EXE:
    case kelmbase::DIR_ASSETS:
      *result = FilePath();
      return true;
    default:
      return false;
  }
}

TEST_F(KelmPathsDeathTest, MissingDependenciesAreFatal) {
  PathService::AddProvider(BrokenBaseKeys, 0, 0);
  struct Case {
    int key;
    const char* check;
  } const cases[] = {
      {FILE_CLIENT_CERT,
       "kelmbase::PathService::Get\\(vantorel::DIR_KELM_HOME, result\\)"},
      {DIR_DRM_DATA,
       "kelmbase::PathService::Get\\(vantorel::DIR_KELM_HOME, result\\)"},
      {FILE_MODEL_KEY,
       "kelmbase::PathService::Get\\(kelmbase::DIR_EXE, result\\)"},
      {vantorel::FILE_DEVICE_CRL,
       "kelmbase::PathService::Get\\(DIR_KELM_HOME, &data_dir\\)"},
      {vantorel::FILE_SHELL_PAK,
       "kelmbase::PathService::Get\\(kelmbase::DIR_ASSETS, &base_dir\\)"},
  };
  for (const Case& c : cases) {
    EXPECT_DEATH(Lookup(c.key), std::string("Check failed: ") + c.check)
        << "key " << c.key;
  }
}

TEST_F(KelmPathsTest, DefaultsWhenTheKeysCannotBeHad) {
  // A newer provider that answers both keys with nothing.
  PathService::AddProvider(
      [](int key, FilePath* result) {
        if (key != FILE_CLIENT_CERT && key != FILE_CLIENT_KEY) return false;
        *result = FilePath();
        return true;
      },
      FILE_CLIENT_CERT, FILE_CLIENT_KEY);
  EXPECT_EQ("certs/client.crt", GetClientCertPath());
  EXPECT_EQ("certs/client.key.bin", GetClientKeyPath());
}

}  // namespace
}  // namespace kelm_core
