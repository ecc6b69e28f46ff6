#include "agent/base/strings/pattern.h"

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(MatchWildcardTest, Cases) {
  struct Case {
    const char* text;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"", "", true},
      {"a", "", false},
      {"", "*", true},
      {"", "?", true},
      {"", "a", false},
      {"abc", "abc", true},
      {"abc", "abd", false},
      {"abc", "ab", false},
      {"ab", "abc", false},
      // '?' takes zero or one character.
      {"abc", "a?c", true},
      {"ac", "a?c", true},
      {"abbc", "a?c", false},
      {"abbc", "a??c", true},
      {"abc", "a??c", true},
      {"ac", "a??c", true},
      {"abbbc", "a??c", false},
      // '*' takes any number.
      {"disabled-by-default-x", "disabled-by-default-*", true},
      {"disabled-by-default-", "disabled-by-default-*", true},
      {"disabled-by-defaul", "disabled-by-default-*", false},
      {"toplevel", "*", true},
      {"abc", "*c", true},
      {"abc", "*b", false},
      {"abcbd", "a*b*d", true},
      {"xaby", "*ab*", true},
      {"a?", "a\\?", true},
      {"ab", "a\\?", false},
      {"a", "a\\?", false},
      {"a*", "a\\*", true},
      {"ab", "a\\*", false},
      {"a", "a\\*", false},
      {"a\\", "a\\\\", true},
      // Each segment keeps its first fitting place.
      {"abab", "*ab", true},
      {"abab", "*ab?", false},
      {"abc", "*?c", true},
      {"abc", "?*c", true},
      // Characters, not bytes.
      {"\xC3\xA9t\xC3\xA9", "?t?", true},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9*", true},
      {"\xE2\x82\xAC", "?", true},
      // An ill-formed character matches nothing, not even itself.
      {"\xFF", "\xFF", false},
      {"a\xFF", "a?", true},
      {"a\xFF", "a*", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchWildcard(c.text, c.pattern), c.matches)
        << "'" << c.text << "' ~ '" << c.pattern << "'";
  }
}

}  // namespace
}  // namespace kelmbase
