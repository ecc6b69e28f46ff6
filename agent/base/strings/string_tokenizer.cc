#include "agent/base/strings/string_tokenizer.h"

namespace kelmbase {
namespace {

bool IsBlank(char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

}  // namespace

DelimitedTokenizer::DelimitedTokenizer(const std::string& text,
                                       const std::string& delimiters)
    : DelimitedTokenizer(text.begin(), text.end(), delimiters) {}

DelimitedTokenizer::DelimitedTokenizer(const_iterator begin,
                                       const_iterator end,
                                       const std::string& delimiters)
    : begin_(begin),
      token_begin_(begin),
      token_end_(begin),
      end_(end),
      delimiters_(delimiters) {}

bool DelimitedTokenizer::Next() {
  if (quotes_.empty() && options_ == 0) return ScanSimple();
  return ScanQuoted();
}

void DelimitedTokenizer::Restart() {
  token_begin_ = begin_;
  token_end_ = begin_;
  token_is_delimiter_ = true;
}

bool DelimitedTokenizer::ScanSimple() {
  token_is_delimiter_ = false;
  while (token_end_ != end_ &&
         (IsDelimiter(*token_end_) || IsSkippedBlank(*token_end_))) {
    ++token_end_;
  }
  token_begin_ = token_end_;
  if (token_end_ == end_) {
    token_is_delimiter_ = true;
    return false;
  }
  while (token_end_ != end_ && !IsDelimiter(*token_end_) &&
         !IsSkippedBlank(*token_end_)) {
    ++token_end_;
  }
  return true;
}

bool DelimitedTokenizer::ScanQuoted() {
  QuoteState state;
  for (;;) {
    if (token_is_delimiter_) {
      token_is_delimiter_ = false;
      SkipBlanks();
      token_begin_ = token_end_;
      while (token_end_ != end_ && StepQuoted(*token_end_, &state))
        ++token_end_;
      if (token_begin_ != token_end_ || (options_ & kEmitEmptyTokens))
        return true;
    }
    SkipBlanks();
    token_is_delimiter_ = true;
    token_begin_ = token_end_;
    if (token_end_ == end_) return false;
    // Blanks alone ended the last token: the next one starts right here and
    // no delimiter lies between them.
    if (!IsDelimiter(*token_end_)) continue;
    ++token_end_;
    if (options_ & kEmitDelimiters) return true;
  }
}

void DelimitedTokenizer::SkipBlanks() {
  while (token_end_ != end_ && IsSkippedBlank(*token_end_)) ++token_end_;
}

bool DelimitedTokenizer::StepQuoted(char c, QuoteState* state) const {
  if (state->in_quote) {
    if (state->in_escape) {
      state->in_escape = false;
    } else if (c == '\\') {
      state->in_escape = true;
    } else if (c == state->quote_char) {
      state->in_quote = false;
    }
    return true;
  }
  if (IsDelimiter(c) || IsSkippedBlank(c)) return false;
  state->quote_char = c;
  state->in_quote = IsQuote(c);
  return true;
}

bool DelimitedTokenizer::IsDelimiter(char c) const {
  return delimiters_.find(c) != std::string::npos;
}

bool DelimitedTokenizer::IsQuote(char c) const {
  return quotes_.find(c) != std::string::npos;
}

bool DelimitedTokenizer::IsSkippedBlank(char c) const {
  return blank_policy_ == kBlanksSeparate && IsBlank(c);
}

}  // namespace kelmbase
