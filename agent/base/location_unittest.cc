#include "agent/base/location.h"

#include <cstdio>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::string PointerText(const void* p) {
  char text[32];
  snprintf(text, sizeof(text), "%p", p);
  return text;
}

TEST(LocationTest, CaptureStripsTheSourcePrefixWhenPresent) {
  Location with_prefix = Location::Capture(
      "Stat", "third_party/ambrel/agent/base/files/file_posix.cc", 569);
  EXPECT_STREQ(with_prefix.file_name(), "base/files/file_posix.cc");
  EXPECT_EQ(with_prefix.ToString(), "Stat@base/files/file_posix.cc:569");

  // A path without the prefix is kept whole, short ones included.
  Location other = Location::Capture("Run", "tools/x.cc", 3);
  EXPECT_STREQ(other.file_name(), "tools/x.cc");
  Location tiny = Location::Capture("Run", "a.cc", 1);
  EXPECT_STREQ(tiny.file_name(), "a.cc");
  Location partial =
      Location::Capture("Run", "third_party/ambrel/agenx/y.cc", 1);
  EXPECT_STREQ(partial.file_name(), "third_party/ambrel/agenx/y.cc");
}

TEST(LocationTest, FromHereNamesThisFunctionAndFile) {
  Location here = FROM_HERE;
  EXPECT_STREQ(here.function_name(), "TestBody");
  EXPECT_STREQ(here.file_name(), "base/location_unittest.cc");
  EXPECT_EQ(here.line_number(), __LINE__ - 3);
  EXPECT_NE(here.program_counter(), nullptr);
}

TEST(LocationTest, ToStringWithoutNamesPrintsProgramCounter) {
  int marker = 0;
  Location no_function(nullptr, "f.cc", 1, &marker);
  Location no_file("F", nullptr, 1, &marker);
  EXPECT_EQ(no_function.ToString(), "pc:" + PointerText(&marker));
  EXPECT_EQ(no_file.ToString(), "pc:" + PointerText(&marker));
  EXPECT_EQ(Location().ToString(), "pc:" + PointerText(nullptr));
}

TEST(LocationTest, CapturesAtDifferentPointsHaveDifferentCounters) {
  Location first = FROM_HERE;
  Location second = FROM_HERE;
  EXPECT_NE(first.program_counter(), second.program_counter());
  Location copy = first;
  EXPECT_EQ(copy.program_counter(), first.program_counter());
  EXPECT_EQ(copy.ToString(), first.ToString());
}

__attribute__((noinline)) const void* WhoCalledMe() {
  return GetCallerAddress();
}

TEST(LocationTest, GetCallerAddressIdentifiesTheCallSite) {
  const void* a = WhoCalledMe();
  const void* b = WhoCalledMe();
  EXPECT_NE(a, nullptr);
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace kelmbase
