#include "agent/base/strings/string_tokenizer.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using Tokens = std::vector<std::string>;

Tokens AllTokens(DelimitedTokenizer* tokenizer) {
  Tokens tokens;
  while (tokenizer->Next()) tokens.push_back(tokenizer->CurrentToken());
  return tokens;
}

TEST(DelimitedTokenizerTest, CategoryList) {
  const std::string text = "cat1,-cat2,,disabled-by-default-x,";
  DelimitedTokenizer tokenizer(text, ",");
  EXPECT_EQ(AllTokens(&tokenizer),
            (Tokens{"cat1", "-cat2", "disabled-by-default-x"}));
  EXPECT_FALSE(tokenizer.Next());
}

TEST(DelimitedTokenizerTest, SimpleScan) {
  struct Case {
    std::string text;
    std::string delimiters;
    DelimitedTokenizer::BlankHandling policy;
    Tokens expected;
  } cases[] = {
      {"", ",", DelimitedTokenizer::kBlanksInTokens, {}},
      {",,,", ",", DelimitedTokenizer::kBlanksInTokens, {}},
      {"a", ",", DelimitedTokenizer::kBlanksInTokens, {"a"}},
      {",a,", ",", DelimitedTokenizer::kBlanksInTokens, {"a"}},
      {"a b, c", ",", DelimitedTokenizer::kBlanksInTokens, {"a b", " c"}},
      {"a b, c", ",", DelimitedTokenizer::kBlanksSeparate, {"a", "b", "c"}},
      // Vertical tab is not a tokenizer blank.
      {"a\vb\tc", ",", DelimitedTokenizer::kBlanksSeparate, {"a\vb", "c"}},
      {" \r\n\f", ",", DelimitedTokenizer::kBlanksSeparate, {}},
      {"a;b,c", ",;", DelimitedTokenizer::kBlanksInTokens, {"a", "b", "c"}},
  };
  for (const Case& c : cases) {
    DelimitedTokenizer tokenizer(c.text, c.delimiters);
    tokenizer.set_whitespace_policy(c.policy);
    EXPECT_EQ(AllTokens(&tokenizer), c.expected) << "'" << c.text << "'";
  }
}

TEST(DelimitedTokenizerTest, RestartAndRange) {
  const std::string text = "x,yy,zzz";
  DelimitedTokenizer tokenizer(text.begin() + 2, text.end(), ",");
  ASSERT_TRUE(tokenizer.Next());
  EXPECT_EQ(tokenizer.CurrentToken(), "yy");
  EXPECT_EQ(tokenizer.CurrentTokenPiece().data(), text.data() + 2);
  ASSERT_TRUE(tokenizer.Next());
  EXPECT_EQ(tokenizer.CurrentTokenPiece(), "zzz");
  EXPECT_FALSE(tokenizer.Next());
  tokenizer.Restart();
  EXPECT_EQ(AllTokens(&tokenizer), (Tokens{"yy", "zzz"}));
}

TEST(DelimitedTokenizerTest, EmitDelimiters) {
  const std::string text = "a,b;;c";
  DelimitedTokenizer tokenizer(text, ",;");
  tokenizer.set_options(DelimitedTokenizer::kEmitDelimiters);
  Tokens tokens;
  std::vector<bool> is_delimiter;
  while (tokenizer.Next()) {
    tokens.push_back(tokenizer.CurrentToken());
    is_delimiter.push_back(tokenizer.token_is_delimiter());
  }
  EXPECT_EQ(tokens, (Tokens{"a", ",", "b", ";", ";", "c"}));
  EXPECT_EQ(is_delimiter,
            (std::vector<bool>{false, true, false, true, true, false}));
}

TEST(DelimitedTokenizerTest, EmitEmptyTokens) {
  const std::string text = ",a,,b,";
  DelimitedTokenizer tokenizer(text, ",");
  tokenizer.set_options(DelimitedTokenizer::kEmitEmptyTokens);
  EXPECT_EQ(AllTokens(&tokenizer), (Tokens{"", "a", "", "b", ""}));

  const std::string empty;
  DelimitedTokenizer on_empty(empty, ",");
  on_empty.set_options(DelimitedTokenizer::kEmitEmptyTokens);
  EXPECT_EQ(AllTokens(&on_empty), Tokens{""});
}

TEST(DelimitedTokenizerTest, BothOptions) {
  const std::string text = "a,,b";
  DelimitedTokenizer tokenizer(text, ",");
  tokenizer.set_options(DelimitedTokenizer::kEmitDelimiters |
                        DelimitedTokenizer::kEmitEmptyTokens);
  EXPECT_EQ(AllTokens(&tokenizer), (Tokens{"a", ",", "", ",", "b"}));
}

TEST(DelimitedTokenizerTest, Quotes) {
  struct Case {
    std::string text;
    Tokens expected;
  } cases[] = {
      {"a,'b,c',d", {"a", "'b,c'", "d"}},
      {"\"x,y\",z", {"\"x,y\"", "z"}},
      {"'it\\'s,here',n", {"'it\\'s,here'", "n"}},
      {"'a\"b,c',d", {"'a\"b,c'", "d"}},     // the other quote is plain there
      {"'unterminated,x", {"'unterminated,x"}},
      {"a\\,b", {"a\\", "b"}},               // no escapes outside quotes
  };
  for (const Case& c : cases) {
    DelimitedTokenizer tokenizer(c.text, ",");
    tokenizer.set_quote_chars("'\"");
    EXPECT_EQ(AllTokens(&tokenizer), c.expected) << c.text;
  }
}

TEST(DelimitedTokenizerTest, QuotesWithBlanksSeparate) {
  const std::string text = "  a 'b c',d  ";
  DelimitedTokenizer tokenizer(text, ",");
  tokenizer.set_quote_chars("'");
  tokenizer.set_whitespace_policy(DelimitedTokenizer::kBlanksSeparate);
  EXPECT_EQ(AllTokens(&tokenizer), (Tokens{"a", "'b c'", "d"}));
}

// Blanks between two tokens separate them like a delimiter that is never
// returned; they neither swallow the next token's first byte nor make
// empty tokens.
TEST(DelimitedTokenizerTest, BlanksSeparateUnderOptions) {
  struct Case {
    std::string text;
    int options;
    Tokens expected;
  } cases[] = {
      {"a b", DelimitedTokenizer::kEmitEmptyTokens, {"a", "b"}},
      {"a, b", DelimitedTokenizer::kEmitEmptyTokens, {"a", "b"}},
      {"a ,, b ", DelimitedTokenizer::kEmitEmptyTokens, {"a", "", "b"}},
      {" a , ", DelimitedTokenizer::kEmitEmptyTokens, {"a", ""}},
      {"a b,c", DelimitedTokenizer::kEmitDelimiters, {"a", "b", ",", "c"}},
      {" a  b ", DelimitedTokenizer::kEmitDelimiters, {"a", "b"}},
  };
  for (const Case& c : cases) {
    DelimitedTokenizer tokenizer(c.text, ",");
    tokenizer.set_options(c.options);
    tokenizer.set_whitespace_policy(DelimitedTokenizer::kBlanksSeparate);
    EXPECT_EQ(AllTokens(&tokenizer), c.expected) << "'" << c.text << "'";
  }
}

}  // namespace
}  // namespace kelmbase
