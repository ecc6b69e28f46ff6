#include "agent/base/strings/string_split.h"

#include "agent/base/strings/string_util.h"

namespace kelmbase {
namespace {

// Finds the next separator at or after `pos` and reports its length.
class ByteSeparator {
 public:
  explicit ByteSeparator(StringPiece bytes) : bytes_(bytes) {}
  size_t Find(StringPiece input, size_t pos) const {
    return input.find_first_of(bytes_, pos);
  }
  size_t length() const { return 1; }

 private:
  StringPiece bytes_;
};

class SubstringSeparator {
 public:
  explicit SubstringSeparator(StringPiece text) : text_(text) {}
  size_t Find(StringPiece input, size_t pos) const {
    return input.find(text_, pos);
  }
  size_t length() const { return text_.size(); }

 private:
  StringPiece text_;
};

template <typename Separator>
std::vector<StringPiece> SplitWith(StringPiece input,
                                   const Separator& separator,
                                   WhitespaceMode whitespace, SplitMode mode) {
  std::vector<StringPiece> parts;
  size_t start = 0;
  for (;;) {
    const size_t found = separator.Find(input, start);
    const size_t end = found == StringPiece::npos ? input.size() : found;
    StringPiece part = input.substr(start, end - start);
    if (whitespace == kTrimWhitespace)
      part = TrimCharsPiece(part, kAsciiWhitespace, kTrimAll);
    if (mode != kWantNonEmpty || !part.empty()) parts.push_back(part);
    if (found == StringPiece::npos) break;
    start = found + separator.length();
  }
  return parts;
}

}  // namespace

std::vector<StringPiece> SplitIntoPieces(StringPiece input,
                                         StringPiece separators,
                                         WhitespaceMode whitespace,
                                         SplitMode mode) {
  if (input.empty()) return {};
  return SplitWith(input, ByteSeparator(separators), whitespace, mode);
}

std::vector<StringPiece> SplitIntoPiecesBySubstring(StringPiece input,
                                                    StringPiece separator,
                                                    WhitespaceMode whitespace,
                                                    SplitMode mode) {
  if (separator.empty()) return {input};
  return SplitWith(input, SubstringSeparator(separator), whitespace, mode);
}

std::vector<std::string> SplitBySubstring(StringPiece input,
                                          StringPiece separator,
                                          WhitespaceMode whitespace,
                                          SplitMode mode) {
  std::vector<std::string> result;
  for (StringPiece part :
       SplitIntoPiecesBySubstring(input, separator, whitespace, mode)) {
    result.push_back(part.ToString());
  }
  return result;
}

}  // namespace kelmbase
