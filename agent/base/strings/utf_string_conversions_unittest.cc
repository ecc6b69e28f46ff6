#include "agent/base/strings/utf_string_conversions.h"

#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(Utf16ToUtf8Test, Conversions) {
  struct Case {
    std::u16string input;
    std::string output;
    bool success;
  } cases[] = {
      {u"", "", true},
      {u"plain ascii", "plain ascii", true},
      {std::u16string(1, u'\0'), std::string(1, '\0'), true},
      {u"caf\u00E9", "caf\xC3\xA9", true},
      {u"\u20AC1", "\xE2\x82\xAC" "1", true},
      {u"\uFFFF", "\xEF\xBF\xBF", true},
      {u"\U0001F600", "\xF0\x9F\x98\x80", true},  // a surrogate pair
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF", true},
      {std::u16string(1, 0xD800), "\xEF\xBF\xBD", false},
      {std::u16string(1, 0xDC00), "\xEF\xBF\xBD", false},
      // A trail before a lead pairs with nothing.
      {std::u16string{0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD", false},
      {std::u16string{0xD800, u'a', 0xD83D, 0xDE00},
       "\xEF\xBF\xBD" "a\xF0\x9F\x98\x80",
       false},
      {std::u16string{u'x', 0xD83D}, "x\xEF\xBF\xBD", false},
  };
  for (const Case& c : cases) {
    std::string output = "stale";
    EXPECT_EQ(Utf16ToUtf8(c.input, &output), c.success)
        << testing::PrintToString(c.output);
    EXPECT_EQ(output, c.output);
    std::string output2 = "stale";
    EXPECT_EQ(Utf16ToUtf8(c.input.data(), c.input.size(), &output2), c.success);
    EXPECT_EQ(output2, c.output);
  }
}

TEST(Utf16ToUtf8Test, WorstCaseGrowthFits) {
  // Every unit becomes three bytes: the buffer sized for that is exact.
  std::u16string input(1000, u'\u4E2D');
  std::string output;
  EXPECT_TRUE(Utf16ToUtf8(input, &output));
  ASSERT_EQ(output.size(), 3000u);
  EXPECT_EQ(output.substr(2997), "\xE4\xB8\xAD");
  EXPECT_LE(output.capacity(), 3100u);  // spare room given back
}

}  // namespace
}  // namespace kelmbase
