#include "agent/base/strings/string_split.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::vector<std::string> ToStrings(const std::vector<StringPiece>& pieces) {
  std::vector<std::string> result;
  for (StringPiece piece : pieces) result.push_back(piece.ToString());
  return result;
}

using Parts = std::vector<std::string>;

TEST(StringSplitTest, SplitIntoPieces) {
  struct Case {
    const char* input;
    const char* separators;
    WhitespaceMode whitespace;
    SplitMode mode;
    Parts expected;
  } cases[] = {
      {"", ",", kKeepWhitespace, kWantAll, {}},
      {"", ",", kTrimWhitespace, kWantNonEmpty, {}},
      {"a,,b", ",", kKeepWhitespace, kWantNonEmpty, {"a", "b"}},
      {"a,,b", ",", kKeepWhitespace, kWantAll, {"a", "", "b"}},
      {",", ",", kKeepWhitespace, kWantAll, {"", ""}},
      {",", ",", kKeepWhitespace, kWantNonEmpty, {}},
      {"abc", ",", kKeepWhitespace, kWantAll, {"abc"}},
      {"a;b,c", ",;", kKeepWhitespace, kWantAll, {"a", "b", "c"}},
      {" a , b ,\t", ",", kKeepWhitespace, kWantAll, {" a ", " b ", "\t"}},
      {" a , b ,\t", ",", kTrimWhitespace, kWantAll, {"a", "b", ""}},
      {" a , b ,\t", ",", kTrimWhitespace, kWantNonEmpty, {"a", "b"}},
      {"a b", "", kKeepWhitespace, kWantAll, {"a b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToStrings(SplitIntoPieces(c.input, c.separators, c.whitespace,
                                        c.mode)),
              c.expected)
        << "'" << c.input << "' at '" << c.separators << "'";
  }
}

TEST(StringSplitTest, PiecesViewTheInput) {
  std::string input = "ab,cd";
  std::vector<StringPiece> pieces =
      SplitIntoPieces(input, ",", kKeepWhitespace, kWantAll);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].data(), input.data());
  EXPECT_EQ(pieces[1].data(), input.data() + 3);
}

TEST(StringSplitTest, SplitBySubstring) {
  const char kEnd[] = "\n-----END CERTIFICATE-----\n";
  struct Case {
    std::string input;
    std::string separator;
    WhitespaceMode whitespace;
    SplitMode mode;
    Parts expected;
  } cases[] = {
      {"", kEnd, kTrimWhitespace, kWantAll, {""}},
      {"", kEnd, kTrimWhitespace, kWantNonEmpty, {}},
      {std::string("A") + kEnd + " B " + kEnd,
       kEnd,
       kTrimWhitespace,
       kWantAll,
       {"A", "B", ""}},
      {std::string("A") + kEnd + " B " + kEnd,
       kEnd,
       kKeepWhitespace,
       kWantNonEmpty,
       {"A", " B "}},
      {"a--b----c", "--", kKeepWhitespace, kWantAll, {"a", "b", "", "c"}},
      {"a--b----c", "--", kKeepWhitespace, kWantNonEmpty, {"a", "b", "c"}},
      {"a-b", "--", kKeepWhitespace, kWantAll, {"a-b"}},
      {"---", "--", kKeepWhitespace, kWantAll, {"", "-"}},
      // An empty separator gives the whole input, whatever the modes.
      {" a ", "", kTrimWhitespace, kWantNonEmpty, {" a "}},
      {"", "", kKeepWhitespace, kWantNonEmpty, {""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitBySubstring(c.input, c.separator, c.whitespace, c.mode),
              c.expected)
        << "'" << c.input << "' at '" << c.separator << "'";
    EXPECT_EQ(ToStrings(SplitIntoPiecesBySubstring(c.input, c.separator,
                                                   c.whitespace, c.mode)),
              c.expected)
        << "'" << c.input << "' at '" << c.separator << "'";
  }
}

}  // namespace
}  // namespace kelmbase
