#include "agent/base/xdg_util.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "agent/base/environment.h"
#include "agent/base/files/file_path.h"
#include "agent/base/path_service.h"
#include "agent/base/test/scoped_environment_restorer.h"
#include "agent/base/test/test_temp_dir.h"
#include "agent/base/xdg_user_dir_lookup.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// Keeps the variables that the lookups read, restores them afterwards, and
// gives each test a scratch directory that serves as HOME. The fallbacks
// ask the path service for the home directory, so its cached answers are
// forgotten first.
class XdgTest : public testing::Test {
 protected:
  static constexpr const char* kVariables[] = {
      "HOME", "TMPDIR", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
      "xdg_config_home", "xdg_cache_home"};

  void SetUp() override {
    PathService::ResetForTesting();
    // A fixed umask, so that what the test makes does not depend on the
    // caller's.
    old_umask_ = umask(022);
    // Made while TMPDIR is still the caller's.
    home_ = test::CreateTestTempDir("kelm_xdg_");
    ASSERT_FALSE(home_.empty());
    for (const char* name : kVariables) unsetenv(name);
    setenv("HOME", home_.c_str(), 1);
  }

  void TearDown() override {
    umask(old_umask_);
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }

  // Writes `contents` as user-dirs.dirs in `config_dir` (made if needed).
  void WriteUserDirs(const std::string& config_dir,
                     const std::string& contents) {
    mkdir(config_dir.c_str(), 0700);
    FILE* f = fopen((config_dir + "/user-dirs.dirs").c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs(contents.c_str(), f);
    fclose(f);
  }

  std::string Lookup(const char* type) {
    char* dir = LookupXdgUserDir(type);
    EXPECT_NE(nullptr, dir);
    std::string result = dir ? dir : "";
    free(dir);
    return result;
  }

  std::string home_;
  kelmbase::test::ScopedEnvironmentRestorer saved_environment_{kVariables};
  mode_t old_umask_ = 0;
};

TEST_F(XdgTest, LookupParsesConfiguredValues) {
  WriteUserDirs(home_ + "/.config",
                "# comment\n"
                "XDG_DESKTOP_DIR=\"$HOME/My Desktop\"\n"
                "XDG_DOWNLOAD_DIR=\"/data/downloads\"\n"
                "  \tXDG_MUSIC_DIR \t= \t\"$HOME/music\"\n"
                "XDG_VIDEOS_DIR=\"videos\"\n"
                "XDG_PICTURES_DIR=\"/a/b\\\"c\\\\d\"\n"
                "XDG_TEMPLATES_DIR=\"/unterminated\n"
                "XDG_TRAILING_DIR=\"/ends/in\\\n"
                "XDG_PUBLICSHARE_DIR=$HOME/unquoted\n"
                "XDG_DOCUMENTS_DIR=\"/first\"\n"
                "XDG_DOCUMENTS_DIR=\"relative\"\n"
                "XDG_DOCUMENTS_DIR=\"/second\"\n"
                "XDG_DOCUMENTS_DIR=\"also relative\"\n");
  struct Case {
    const char* type;
    std::string expected;
  } const cases[] = {
      {"DESKTOP", home_ + "/My Desktop"},
      {"DOWNLOAD", "/data/downloads"},
      {"MUSIC", home_ + "/music"},
      // Neither "$HOME/" nor absolute: ignored, so the fallback.
      {"VIDEOS", home_},
      {"PICTURES", "/a/b\"c\\d"},
      {"TEMPLATES", "/unterminated"},
      // A backslash with nothing after it is kept as it is.
      {"TRAILING", "/ends/in\\"},
      {"PUBLICSHARE", home_},
      // The last line that counts wins.
      {"DOCUMENTS", "/second"},
      // A type that is only a prefix of a configured one.
      {"DOC", home_},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, Lookup(c.type)) << c.type;
  }
}

TEST_F(XdgTest, LookupPrefersXdgConfigHome) {
  WriteUserDirs(home_ + "/.config", "XDG_DESKTOP_DIR=\"/from/home\"\n");
  WriteUserDirs(home_ + "/cfg", "XDG_DESKTOP_DIR=\"/from/config/home\"\n");
  EXPECT_EQ("/from/home", Lookup("DESKTOP"));
  setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ("/from/home", Lookup("DESKTOP"));
  setenv("XDG_CONFIG_HOME", (home_ + "/cfg").c_str(), 1);
  EXPECT_EQ("/from/config/home", Lookup("DESKTOP"));
  // A configuration home without the file gives the fallback.
  setenv("XDG_CONFIG_HOME", (home_ + "/none").c_str(), 1);
  EXPECT_EQ(home_ + "/Desktop", Lookup("DESKTOP"));
}

TEST_F(XdgTest, LookupFallbacks) {
  EXPECT_EQ(home_ + "/Desktop", Lookup("DESKTOP"));
  EXPECT_EQ(home_, Lookup("DOWNLOAD"));
  unsetenv("HOME");
  EXPECT_EQ("/tmp", Lookup("DESKTOP"));
  EXPECT_EQ("/tmp", Lookup("DOWNLOAD"));
}

TEST_F(XdgTest, LookupReadsLongLinesInPieces) {
  // The line is read 511 bytes at a time; a piece that begins with a
  // setting counts as a line of its own.
  std::string padding(511, 'x');
  WriteUserDirs(home_ + "/.config",
                padding + "XDG_DESKTOP_DIR=\"/from/continuation\"\n" +
                    "XDG_MUSIC_DIR=\"/" + std::string(600, 'm') + "\"\n");
  EXPECT_EQ("/from/continuation", Lookup("DESKTOP"));
  // A value longer than the buffer is cut at the piece's end.
  EXPECT_EQ("/" + std::string(511 - 16, 'm'), Lookup("MUSIC"));
}

TEST_F(XdgTest, GetXdgUserDirectoryStripsTrailingSeparators) {
  WriteUserDirs(home_ + "/.config", "XDG_DESKTOP_DIR=\"$HOME/desk//\"\n");
  EXPECT_EQ(FilePath(home_ + "/desk"),
            GetXdgUserDirectory("DESKTOP", "Desktop"));
}

TEST_F(XdgTest, GetXdgDirectory) {
  std::unique_ptr<Environment> env = Environment::Create();
  setenv("XDG_CACHE_HOME", "/var/cache/me/", 1);
  EXPECT_EQ(FilePath("/var/cache/me"),
            GetXdgDirectory(env.get(), "XDG_CACHE_HOME", ".cache"));
  setenv("XDG_CACHE_HOME", "", 1);
  EXPECT_EQ(FilePath(home_ + "/.cache"),
            GetXdgDirectory(env.get(), "XDG_CACHE_HOME", ".cache"));
  unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(FilePath(home_ + "/.cache"),
            GetXdgDirectory(env.get(), "XDG_CACHE_HOME", ".cache"));
}

}  // namespace
}  // namespace kelmbase
