#ifndef AGENT_NET_CERT_PEM_H_
#define AGENT_NET_CERT_PEM_H_

#include <cstddef>
#include <string>
#include <vector>

#include "agent/base/strings/string_piece.h"

namespace net {

// One PEM block type: its word and its two marker lines.
struct PEMType {
  std::string type;
  std::string header;
  std::string footer;
};

// Finds the PEM blocks of the allowed types in a text and decodes their
// Base64 bodies, in text order. Only the type word of a header is read:
// header lines inside a body (such as encryption headers) are not
// interpreted, and such a body fails to decode and is skipped.
//
// Deliberate quirks of the scan, kept for compatibility with the files this
// reads: after a "-----BEGIN " marker of no allowed type the search resumes
// 12 bytes later (so a marker right behind it is missed); a header with no
// footer after it ends the scan for good; a body that fails to decode is
// skipped, and the search resumes after its footer.
//
// A tokenizer views the caller's text, which must outlive it, and belongs
// to one caller.
class PEMTokenizer {
 public:
  PEMTokenizer(kelmbase::StringPiece input,
               const std::vector<std::string>& allowed_block_types);
  PEMTokenizer(const PEMTokenizer&) = delete;
  PEMTokenizer& operator=(const PEMTokenizer&) = delete;
  ~PEMTokenizer();

  // Moves to the next block that decodes. False when there is none (the
  // tokenizer then stays exhausted).
  bool GetNext();

  // The type word and the decoded bytes of the block GetNext last found.
  const std::string& block_type() const { return block_type_; }
  const std::string& data() const { return data_; }

 private:
  kelmbase::StringPiece str_;
  // Where the search goes on; npos once exhausted.
  size_t pos_;
  std::string block_type_;
  std::vector<PEMType> block_types_;
  std::string data_;
};

}  // namespace net

#endif  // AGENT_NET_CERT_PEM_H_
