#ifndef AGENT_BASE_STRINGS_STRING_TOKENIZER_H_
#define AGENT_BASE_STRINGS_STRING_TOKENIZER_H_

#include <memory>
#include <string>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// Walks the tokens of a text separated by any of a set of delimiter bytes:
//
//   DelimitedTokenizer t(text, ",");
//   while (t.Next()) Use(t.CurrentToken());
//
// By default runs of delimiters count as one and no empty tokens appear.
// Options add the delimiters themselves and empty tokens to the output;
// quote bytes make delimiters inside a quoted stretch part of the token (a
// backslash inside quotes escapes the next byte). The tokenizer keeps
// positions into the caller's text, which must outlive it.
class DelimitedTokenizer {
 public:
  // Bits of set_options().
  enum {
    kEmitDelimiters = 1 << 0,  // each delimiter is also returned as a token
    kEmitEmptyTokens = 1 << 1,  // the empty token between two delimiters too
  };

  // What blank bytes (tab, LF, FF, CR, space) are.
  enum BlankHandling {
    kBlanksInTokens = 0,  // ordinary token bytes
    kBlanksSeparate = 1,  // separators that are never returned
  };

  using const_iterator = std::string::const_iterator;

  DelimitedTokenizer(const std::string& text, const std::string& delimiters);
  DelimitedTokenizer(const_iterator begin, const_iterator end,
                     const std::string& delimiters);
  // The tokenizer would outlive a temporary text.
  DelimitedTokenizer(std::string&& text, const std::string& delimiters) =
      delete;

  void set_options(int options) { options_ = options; }
  void set_quote_chars(const std::string& quotes) { quotes_ = quotes; }
  void set_whitespace_policy(BlankHandling policy) { blank_policy_ = policy; }

  // Moves to the next token; false at the end of the text.
  bool Next();

  // Starts again from the beginning of the text.
  void Restart();

  // The current token (valid after Next() returned true).
  std::string CurrentToken() const {
    return std::string(token_begin_, token_end_);
  }
  StringPiece CurrentTokenPiece() const {
    return StringPiece(std::to_address(token_begin_),
                       static_cast<size_t>(token_end_ - token_begin_));
  }
  const_iterator token_begin() const { return token_begin_; }
  const_iterator token_end() const { return token_end_; }
  // Whether the current token is a delimiter (under kEmitDelimiters).
  bool token_is_delimiter() const { return token_is_delimiter_; }

 private:
  // The state of a scan across quotes.
  struct QuoteState {
    bool in_quote = false;
    bool in_escape = false;
    char quote_char = '\0';
  };

  bool ScanSimple();
  bool ScanQuoted();
  // Whether the byte `c` continues the current token, updating the quote
  // state.
  bool StepQuoted(char c, QuoteState* state) const;
  // Moves the token end over blanks that the policy skips.
  void SkipBlanks();

  bool IsDelimiter(char c) const;
  bool IsQuote(char c) const;
  // Whether `c` is a blank that the policy skips.
  bool IsSkippedBlank(char c) const;

  const_iterator begin_;
  const_iterator token_begin_;
  const_iterator token_end_;
  const_iterator end_;
  std::string delimiters_;
  std::string quotes_;
  int options_ = 0;
  bool token_is_delimiter_ = true;
  BlankHandling blank_policy_ = kBlanksInTokens;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_STRING_TOKENIZER_H_
