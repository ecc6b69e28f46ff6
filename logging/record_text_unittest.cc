#include "logging/record_text.h"

#include <set>
#include <string>

#include "gtest/gtest.h"

namespace kelm_log {
namespace {

TEST(EscapeForRecordTest, ControlBytesAndBackslashesAreEscaped) {
  struct Case {
    std::string value;
    std::string shown;
  } cases[] = {
      {"", ""},
      {"/plain/path with blanks", "/plain/path with blanks"},
      {"a\nb", "a\\nb"},
      {"a\\nb", "a\\\\nb"},
      {"\t\r", "\\t\\r"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"\x1b[31m\x7f", "\\x1b[31m\\x7f"},
      {"\\", "\\\\"},
      {"\xc3\xa9", "\xc3\xa9"},
      {"x\nE0000 00:00:1.000000       1 f.cc:1] forged",
       "x\\nE0000 00:00:1.000000       1 f.cc:1] forged"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeForRecord(c.value), c.shown) << c.shown;
  }
}

// Every shown text stands for one value (no two values of up to two bytes
// below 0x80 show alike), and nothing shown holds a line break.
TEST(EscapeForRecordTest, DistinctValuesShowDistinctly) {
  std::set<std::string> shown;
  size_t values = 0;
  const auto show = [&](const std::string& value) {
    const std::string text = EscapeForRecord(value);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    shown.insert(text);
    ++values;
  };
  // One byte, and two bytes whose second may complete an escape's look.
  for (int first = 0; first < 0x80; ++first) {
    show(std::string(1, static_cast<char>(first)));
    for (const char second : {'\\', 'n', 'x', '0', '\n', '\0'}) {
      show({static_cast<char>(first), second});
    }
  }
  EXPECT_EQ(shown.size(), values);
}

}  // namespace
}  // namespace kelm_log
