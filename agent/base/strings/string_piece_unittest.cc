#include "agent/base/strings/string_piece.h"

#include <map>
#include <sstream>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

constexpr size_t npos = StringPiece::npos;

TEST(StringPieceTest, ConstructionViewsWithoutCopying) {
  const char* text = "hello";
  StringPiece from_c(text);
  EXPECT_EQ(from_c.data(), text);
  EXPECT_EQ(from_c.size(), 5u);

  std::string owned = "abc";
  StringPiece from_string(owned);
  EXPECT_EQ(from_string.data(), owned.data());
  EXPECT_EQ(from_string.length(), 3u);

  StringPiece with_nul("a\0b", 3);
  EXPECT_EQ(with_nul.size(), 3u);
  EXPECT_EQ(with_nul.ToString(), std::string("a\0b", 3));

  StringPiece empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.ToString(), "");
  EXPECT_EQ(npos, static_cast<size_t>(-1));
}

TEST(StringPieceTest, IndexingAndShortening) {
  StringPiece piece("abcdef");
  EXPECT_EQ(piece[0], 'a');
  EXPECT_EQ(piece[5], 'f');
  piece.remove_prefix(2);
  EXPECT_EQ(piece, "cdef");
  piece.remove_suffix(3);
  EXPECT_EQ(piece, "c");
  piece.remove_prefix(1);
  EXPECT_TRUE(piece.empty());
}

TEST(StringPieceTest, Substr) {
  StringPiece piece("abcdef");
  EXPECT_EQ(piece.substr(2), "cdef");
  EXPECT_EQ(piece.substr(2, 2), "cd");
  EXPECT_EQ(piece.substr(4, 100), "ef");
  EXPECT_EQ(piece.substr(6), "");
  EXPECT_EQ(piece.substr(6).data(), piece.data() + 6);
  EXPECT_EQ(piece.substr(0, 0), "");
}

TEST(StringPieceTest, Find) {
  StringPiece piece("abcabc");
  struct Case {
    const char* needle;
    size_t pos;
    size_t expected;
  } cases[] = {
      {"abc", 0, 0},   {"abc", 1, 3},   {"bc", 0, 1},   {"c", 3, 5},
      {"abcd", 0, npos}, {"cab", 0, 2}, {"x", 0, npos}, {"", 0, 0},
      {"", 4, 4},      {"", 6, 6},      {"", 7, npos},  {"a", 7, npos},
      {"bc", 5, npos},  // would run past the end
      {"c", npos, npos},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(piece.find(c.needle, c.pos), c.expected)
        << "needle '" << c.needle << "' from " << c.pos;
  }
  EXPECT_EQ(piece.find(std::string("ca")), 2u);
  EXPECT_EQ(piece.find('c', 3), 5u);
  EXPECT_EQ(piece.find('z'), npos);
  EXPECT_EQ(StringPiece().find(""), 0u);
  EXPECT_EQ(StringPiece().find("a"), npos);
  // Bytes after the view are not part of it.
  EXPECT_EQ(StringPiece("abcd", 3).find("cd"), npos);
}

TEST(StringPieceTest, FindFirstOf) {
  StringPiece piece("hello, world");
  EXPECT_EQ(piece.find_first_of(","), 5u);
  EXPECT_EQ(piece.find_first_of(" ,"), 5u);
  EXPECT_EQ(piece.find_first_of("ow"), 4u);
  EXPECT_EQ(piece.find_first_of("ow", 5), 7u);
  EXPECT_EQ(piece.find_first_of("xyz"), npos);
  EXPECT_EQ(piece.find_first_of(""), npos);
  EXPECT_EQ(piece.find_first_of("o", 100), npos);
  EXPECT_EQ(StringPiece().find_first_of("abc"), npos);
  // Bytes above 0x7F are ordinary members of a set.
  EXPECT_EQ(StringPiece("ab\xC3\xA9").find_first_of("\xA9\xC3"), 2u);
}

TEST(StringPieceTest, FindFirstNotOf) {
  StringPiece piece("  \tabc ");
  EXPECT_EQ(piece.find_first_not_of(" "), 2u);
  EXPECT_EQ(piece.find_first_not_of(" \t"), 3u);
  EXPECT_EQ(piece.find_first_not_of(" \t", 4), 4u);
  EXPECT_EQ(piece.find_first_not_of("abc \t"), npos);
  EXPECT_EQ(piece.find_first_not_of("", 1), 1u);
  EXPECT_EQ(piece.find_first_not_of("", 7), npos);
  EXPECT_EQ(piece.find_first_not_of("x", 7), npos);
  EXPECT_EQ(StringPiece().find_first_not_of(""), npos);
}

TEST(StringPieceTest, FindLastNotOf) {
  StringPiece piece("abc  \t");
  EXPECT_EQ(piece.find_last_not_of(" \t"), 2u);
  EXPECT_EQ(piece.find_last_not_of("\t"), 4u);
  EXPECT_EQ(piece.find_last_not_of(" \t", 1), 1u);
  EXPECT_EQ(piece.find_last_not_of("abc \t"), npos);
  EXPECT_EQ(piece.find_last_not_of("a", 0), npos);
  EXPECT_EQ(piece.find_last_not_of(""), 5u);
  EXPECT_EQ(piece.find_last_not_of("", 3), 3u);
  EXPECT_EQ(piece.find_last_not_of("", 100), 5u);
  EXPECT_EQ(StringPiece().find_last_not_of(""), npos);
  EXPECT_EQ(StringPiece().find_last_not_of("a"), npos);
}

TEST(StringPieceTest, EqualityAndOrdering) {
  EXPECT_EQ(StringPiece("abc"), StringPiece("abc"));
  EXPECT_NE(StringPiece("abc"), StringPiece("abd"));
  EXPECT_NE(StringPiece("ab"), StringPiece("abc"));
  EXPECT_EQ(StringPiece(), StringPiece(""));

  EXPECT_LT(StringPiece("ab"), StringPiece("abc"));  // shorter first on a tie
  EXPECT_LT(StringPiece("abc"), StringPiece("abd"));
  EXPECT_LT(StringPiece("ab\x01"), StringPiece("ab\xFF"));  // unsigned bytes
  EXPECT_FALSE(StringPiece("abc") < StringPiece("abc"));
  EXPECT_GT(StringPiece("b"), StringPiece("abc"));
  EXPECT_LE(StringPiece("a"), StringPiece("a"));
  EXPECT_GE(StringPiece("b"), StringPiece("a"));
  EXPECT_EQ(StringPiece("ab").compare("abc"), -1);
  EXPECT_EQ(StringPiece("abc").compare("ab"), 1);
  EXPECT_EQ(StringPiece("abc").compare("abc"), 0);

  std::map<StringPiece, int> map;
  map["beta"] = 2;
  map["alpha"] = 1;
  map["al"] = 0;
  auto it = map.begin();
  EXPECT_EQ(it++->first, "al");
  EXPECT_EQ(it++->first, "alpha");
  EXPECT_EQ(it->first, "beta");
}

TEST(StringPieceTest, StreamsItsBytes) {
  std::ostringstream os;
  os << StringPiece("ab\0c", 4) << StringPiece();
  EXPECT_EQ(os.str(), std::string("ab\0c", 4));
}

TEST(StringPieceDeathTest, NullPointer) {
  const char* null_text = nullptr;
  EXPECT_DEATH((void)StringPiece{null_text}, "Check failed: s\n");
}

TEST(StringPieceDeathTest, IndexPastTheEnd) {
  StringPiece piece("abc");
  EXPECT_DEATH((void)piece[3], "Check failed: pos < size\\(\\) \\(3 vs\\. 3\\)");
}

TEST(StringPieceDeathTest, RemoveTooMuch) {
  StringPiece piece("abc");
  EXPECT_DEATH(piece.remove_prefix(4), "Check failed: n <= size\\(\\)\n");
  EXPECT_DEATH(piece.remove_suffix(4), "Check failed: n <= size\\(\\)\n");
}

TEST(StringPieceDeathTest, SubstrPastTheEnd) {
  StringPiece piece("abc");
  EXPECT_DEATH(piece.substr(4), "Check failed: pos <= size\\(\\)\n");
}

}  // namespace
}  // namespace kelmbase
