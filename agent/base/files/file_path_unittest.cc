#include "agent/base/files/file_path.h"

#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

struct UnaryCase {
  const char* input;
  const char* expected;
};

TEST(FilePathTest, Constants) {
  EXPECT_STREQ("/", FilePath::kSeparators);
  EXPECT_EQ(2u, FilePath::kSeparatorsLength);
  EXPECT_STREQ(".", FilePath::kCurrentDirectory);
  EXPECT_STREQ("..", FilePath::kParentDirectory);
}

TEST(FilePathTest, ConstructionStopsAtNul) {
  const std::string text("abc\0def", 7);
  FilePath path(text);
  EXPECT_EQ("abc", path.value());
  EXPECT_EQ("", FilePath(std::string("\0x", 2)).value());
}

TEST(FilePathTest, MoveLeavesSourceEmpty) {
  FilePath source("/a/b");
  FilePath moved(std::move(source));
  EXPECT_EQ("/a/b", moved.value());
  EXPECT_TRUE(source.empty());  // NOLINT(bugprone-use-after-move)

  FilePath assigned("x");
  assigned = std::move(moved);
  EXPECT_EQ("/a/b", assigned.value());
  EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)
}

TEST(FilePathTest, Comparison) {
  EXPECT_TRUE(FilePath("a") == FilePath("a"));
  EXPECT_TRUE(FilePath("a") != FilePath("a/"));
  EXPECT_FALSE(FilePath("a") != FilePath("a"));
}

TEST(FilePathTest, StripTrailingSeparators) {
  const UnaryCase cases[] = {
      {"", ""},       {"a", "a"},       {"/", "/"},     {"//", "//"},
      {"///", "/"},   {"////", "/"},    {"a/", "a"},    {"a//", "a"},
      {"a///", "a"},  {"/a/", "/a"},    {"//a//", "//a"}, {"a/b/", "a/b"},
  };
  for (const UnaryCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).StripTrailingSeparators().value())
        << "input '" << c.input << "'";
  }
}

TEST(FilePathTest, DirName) {
  const UnaryCase cases[] = {
      {"", "."},       {"/", "/"},     {"//", "//"},   {"///", "/"},
      {"a", "."},      {"a/", "."},    {"/a", "/"},    {"//a", "//"},
      {"a/b//", "a"},  {"a/b/", "a"},  {"a/b", "a"},   {"/a/b/c", "/a/b"},
      {"a//b", "a"},   {"///a", "//"},  {".", "."},     {"..", "."},
      {"../a", ".."},  {"/a/", "/"},
  };
  for (const UnaryCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).DirName().value())
        << "input '" << c.input << "'";
  }
}

TEST(FilePathTest, BaseName) {
  const UnaryCase cases[] = {
      {"", ""},       {"/", "/"},    {"//", "//"},  {"///", "/"},
      {"a", "a"},     {"a/", "a"},   {"/a", "a"},   {"//a", "a"},
      {"a/b//", "b"}, {"/a/b/", "b"}, {"a/b/c", "c"}, {".", "."},
      {"a/..", ".."},
  };
  for (const UnaryCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).BaseName().value())
        << "input '" << c.input << "'";
  }
}

TEST(FilePathTest, Append) {
  struct Case {
    const char* path;
    std::string component;
    const char* expected;
  } const cases[] = {
      {".", "a", "a"},
      {".", "", "."},
      {"", "a", "a"},
      {"", "", ""},
      {"/", "a", "/a"},
      {"//", "a", "//a"},
      {"a", "b", "a/b"},
      {"a/", "b", "a/b"},
      {"a//", "b", "a/b"},
      {"a", "", "a"},
      {"a/", "", "a"},
      {"a", "/x", "a//x"},
      {"a", "b/c", "a/b/c"},
      {"a", std::string("b\0c", 3), "a/b"},
      {"a", std::string("\0c", 2), "a"},
      {"./", "a", "./a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.path).Append(c.component).value())
        << "'" << c.path << "' + '" << c.component << "'";
    EXPECT_EQ(c.expected,
              FilePath(c.path).AppendAsciiComponent(c.component).value())
        << "'" << c.path << "' + '" << c.component << "'";
  }
}

TEST(FilePathTest, AppendPath) {
  EXPECT_EQ("a/b/c", FilePath("a/").Append(FilePath("b/c")).value());
  EXPECT_EQ("/x/y", FilePath(".").Append(FilePath("/x/y")).value());
}

TEST(FilePathTest, GetComponents) {
  struct Case {
    const char* path;
    std::vector<std::string> expected;
  } const cases[] = {
      {"", {""}},
      {".", {}},
      {"/", {"/"}},
      {"//", {"//"}},
      {"a", {"a"}},
      {"a/b", {"a", "b"}},
      {"a/b/", {"a", "b"}},
      {"/a/b", {"/", "a", "b"}},
      {"//a/b", {"//", "a", "b"}},
      {"/a//b///c", {"/", "a", "b", "c"}},
      {"./a", {"a"}},
      {"a/./b", {"a", ".", "b"}},
      {"../a", {"..", "a"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.path).GetComponents())
        << "input '" << c.path << "'";
  }
}

TEST(FilePathTest, ContainsParentReference) {
  struct Case {
    const char* path;
    bool expected;
  } const cases[] = {
      {"", false},
      {"a/b", false},
      {"..", true},
      {"../a", true},
      {"a/..", true},
      {"a/../b", true},
      {"/a/../b", true},
      {"a/ .. /b", true},
      {"a/\t..\r\n/b", true},
      {"a/.../b", true},
      {"a/..b", false},
      {"a..b", false},
      {"a/b..", false},
      {"a/. ./b", false},
      {"a/./b", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.path).ContainsParentReference())
        << "input '" << c.path << "'";
  }
}

}  // namespace
}  // namespace kelmbase
