#include "devtools/build/runtime/get_runfiles_dir.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>

#include "agent/base/test/test_temp_dir.h"
#include "gtest/gtest.h"

namespace devtools_build {
namespace internal {
namespace {

// An operating system with a made-up set of accessible directories.
class FakeOs : public OsInterface {
 public:
  bool IsDirectoryAccessible(const std::string& path) const override {
    return accessible.count(path) != 0;
  }
  std::string GetCwd() const override { return cwd; }
  const char* GetEnv(const char* name) const override {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  }
  std::string ReadSymlink(const std::string& path) const override {
    return std::string();
  }

  std::set<std::string> accessible;
  std::string cwd = "/work/dir";
  std::map<std::string, std::string> env;
};

TEST(GetProgramPathTest, Sources) {
  FakeOs os;
  struct Case {
    const char* execfn;
    const char* invocation_name;
    const char* deps_dso;  // null: unset
    const char* expected;
  } const cases[] = {
      {"/bin/tool", "ignored", nullptr, "/bin/tool"},
      {"rel/tool", nullptr, nullptr, "/work/dir/rel/tool"},
      // A descriptor path names nothing useful.
      {"/dev/fd/3", "/opt/tool", nullptr, "/opt/tool"},
      {"/dev/fd/3", "tool", nullptr, "/work/dir/tool"},
      {nullptr, "/opt/tool", nullptr, "/opt/tool"},
      {nullptr, nullptr, nullptr, ""},
      {"/dev/fd/3", nullptr, nullptr, ""},
      // The variable fills a gap or replaces the runtime's interpreter.
      {nullptr, nullptr, "/opt/dso.so", "/opt/dso.so"},
      {nullptr, "", "dso.so", "/work/dir/dso.so"},
      {"/usr/vrte/v5/bin/python2.7", nullptr, "/opt/dso.so", "/opt/dso.so"},
      {"/usr/vrte/v5/bin/python2.7", nullptr, nullptr,
       "/usr/vrte/v5/bin/python2.7"},
      {"/usr/local/bin/python2.7", nullptr, "/opt/dso.so",
       "/usr/local/bin/python2.7"},
      {"/bin/tool", nullptr, "/opt/dso.so", "/bin/tool"},
  };
  for (const Case& c : cases) {
    os.env.clear();
    if (c.deps_dso != nullptr) {
      os.env["PLOVEX3_NATIVE_CODE_DEPS_DSO"] = c.deps_dso;
    }
    EXPECT_EQ(c.expected, GetProgramPath(c.execfn, c.invocation_name, &os))
        << (c.execfn ? c.execfn : "(null)") << " / "
        << (c.invocation_name ? c.invocation_name : "(null)");
  }
}

TEST(GetRunfilesDirTest, Candidates) {
  struct Case {
    const char* program;
    std::set<std::string> accessible;
    const char* expected;
  } const cases[] = {
      {"/b/tool", {"/b/tool.runfiles", "/work"}, "/b/tool.runfiles"},
      // A program inside its own runfiles tree.
      {"/b/tool.runfiles/plovex3/x/tool",
       {"/b/tool.runfiles", "/work"},
       "/b/tool.runfiles"},
      // The last occurrence counts.
      {"/a.runfiles/plovex3/b/c.runfiles/plovex3/tool",
       {"/a.runfiles/plovex3/b/c.runfiles", "/a.runfiles"},
       "/a.runfiles/plovex3/b/c.runfiles"},
      // A program in a source tree.
      {"/src/plovex3/bin/tool", {"/src", "/work"}, "/src"},
      {"/src/plovex3/a/plovex3/tool", {"/src/plovex3/a", "/src"},
       "/src/plovex3/a"},
      // An inaccessible candidate falls through to the next rule.
      {"/b/tool.runfiles/plovex3/tool", {"/work"}, "/work"},
      {"/b/tool", {"/work"}, "/work"},
  };
  for (const Case& c : cases) {
    FakeOs os;
    os.accessible = c.accessible;
    EXPECT_EQ(c.expected, GetRunfilesDir(c.program, &os)) << c.program;
  }
}

TEST(GetRunfilesDirDeathTest, InaccessibleOutcomeIsFatal) {
  FakeOs os;
  EXPECT_DEATH(GetRunfilesDir("/b/tool", &os),
               "Check failed: os_helper->IsDirectoryAccessible\\(srcdir\\) "
               "srcdir \"/work\" is not accessible!");
}

class PosixEnvironmentTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = kelmbase::test::CreateTestTempDir("kelm_runfiles_");
    ASSERT_FALSE(dir_.empty());
    os_ = NewPosixEnvironment();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string dir_;
  std::unique_ptr<OsInterface> os_;
};

TEST_F(PosixEnvironmentTest, IsDirectoryAccessible) {
  EXPECT_TRUE(os_->IsDirectoryAccessible(dir_));
  EXPECT_FALSE(os_->IsDirectoryAccessible(dir_ + "/missing"));
}

TEST_F(PosixEnvironmentTest, GetCwdAndGetEnv) {
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
  EXPECT_EQ(cwd, os_->GetCwd());

  ASSERT_EQ(0, setenv("KELM_RUNFILES_TEST_VAR", "value", 1));
  EXPECT_STREQ("value", os_->GetEnv("KELM_RUNFILES_TEST_VAR"));
  ASSERT_EQ(0, unsetenv("KELM_RUNFILES_TEST_VAR"));
  EXPECT_EQ(nullptr, os_->GetEnv("KELM_RUNFILES_TEST_VAR"));
}

TEST_F(PosixEnvironmentTest, ReadSymlink) {
  std::string link = dir_ + "/link";
  ASSERT_EQ(0, symlink("some/target", link.c_str()));
  EXPECT_EQ("some/target", os_->ReadSymlink(link));
  EXPECT_EQ("", os_->ReadSymlink(dir_));
  EXPECT_DEATH(os_->ReadSymlink("/kelm_no_such_dir/link"),
               "Error stating \"/kelm_no_such_dir/link\": No such file");
}

TEST(RunfilesTest, ProgramPathOfThisTest) {
  std::string path = devtools_build::GetProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ('/', path[0]);
  struct stat st;
  EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
}

// One test for both rules, so that no concurrently running case sees the
// runfiles directory that it makes beside the test program.
TEST(RunfilesTest, RunfilesOfThisProgram) {
  // With "<program>.runfiles" beside the program: inside it. This half runs
  // in the working directory the program started in, since a program run
  // by a relative path is found from the current one. Only the build's
  // owner may add the tree there.
  const std::string runfiles = devtools_build::GetProgramPath() + ".runfiles";
  if (mkdir(runfiles.c_str(), 0700) == 0) {
    EXPECT_EQ(runfiles + "/plovex3/third_party/ambrel/agent",
              GetRunfilesPath("plovex3/third_party/ambrel/agent"));
    rmdir(runfiles.c_str());
  } else {
    EXPECT_EQ(EACCES, errno) << runfiles << ": " << strerror(errno);
    std::cerr << "Skipped the runfiles-tree half: " << runfiles
              << " cannot be made by this user\n";
  }

  // Without a runfiles tree: the parent of the working directory.
  char old_cwd[4096];
  ASSERT_NE(nullptr, getcwd(old_cwd, sizeof(old_cwd)));
  const std::string dir =
      kelmbase::test::CreateTestTempDir("kelm_runfiles_cwd_");
  ASSERT_FALSE(dir.empty());
  const std::string sub = dir + "/sub";
  ASSERT_EQ(0, mkdir(sub.c_str(), 0700));
  ASSERT_EQ(0, chdir(sub.c_str()));
  EXPECT_EQ(dir + "/x", GetRunfilesPath("x"));
  ASSERT_EQ(0, chdir(old_cwd));
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace internal
}  // namespace devtools_build
