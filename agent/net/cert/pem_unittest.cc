#include "agent/net/cert/pem.h"

#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace net {
namespace {

using Blocks = std::vector<std::pair<std::string, std::string>>;

Blocks Tokenize(const std::string& text,
                const std::vector<std::string>& allowed) {
  PEMTokenizer tokenizer(text, allowed);
  Blocks blocks;
  while (tokenizer.GetNext())
    blocks.emplace_back(tokenizer.block_type(), tokenizer.data());
  // Exhaustion is final.
  EXPECT_FALSE(tokenizer.GetNext());
  return blocks;
}

std::string Block(const std::string& type, const std::string& body) {
  return "-----BEGIN " + type + "-----\n" + body + "-----END " + type +
         "-----\n";
}

const std::vector<std::string> kCertOnly = {"CERTIFICATE"};
const std::vector<std::string> kCertAndPkcs7 = {"CERTIFICATE", "PKCS7"};

TEST(PEMTokenizerTest, Cases) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> allowed;
    Blocks expected;
  } cases[] = {
      {"blocks_in_order_text_ignored",
       "leading text\n" + Block("CERTIFICATE", "QUJD\n") + "between\n" +
           Block("CERTIFICATE", "REVG\n") + Block("CERTIFICATE", "R0hJ\n") +
           "trailing",
       kCertOnly,
       {{"CERTIFICATE", "ABC"}, {"CERTIFICATE", "DEF"}, {"CERTIFICATE", "GHI"}}},
      {"line_breaks_of_any_kind",
       Block("CERTIFICATE", "QU\r\nJE\r\nREVG\n\n  \n"), kCertOnly,
       {{"CERTIFICATE", "ABDDEF"}}},
      // A space inside a line survives as one space and breaks Base64.
      {"space_inside_a_line_skips_the_block",
       Block("CERTIFICATE", "QU  JD\n") + Block("CERTIFICATE", "REVG\n"),
       kCertOnly, {{"CERTIFICATE", "DEF"}}},
      {"type_not_allowed_is_skipped",
       Block("PRIVATE KEY", "QUJD\n") + Block("CERTIFICATE", "REVG\n"),
       kCertOnly, {{"CERTIFICATE", "DEF"}}},
      {"types_in_text_order",
       Block("PKCS7", "QUJD\n") + Block("CERTIFICATE", "REVG\n"),
       kCertAndPkcs7, {{"PKCS7", "ABC"}, {"CERTIFICATE", "DEF"}}},
      // No footer for a header: nothing after it is ever returned.
      {"missing_footer_ends_tokenizing",
       Block("CERTIFICATE", "QUJD\n") + "-----BEGIN PKCS7-----\nREVG\n" +
           Block("CERTIFICATE", "R0hJ\n"),
       kCertAndPkcs7, {{"CERTIFICATE", "ABC"}}},
      // The first body holds the second header: both blocks are lost.
      {"nested_header_loses_both",
       "-----BEGIN CERTIFICATE-----\nQUJD\n" + Block("CERTIFICATE", "REVG\n") +
           Block("CERTIFICATE", "R0hJ\n"),
       kCertOnly, {{"CERTIFICATE", "GHI"}}},
      // The search resumes 12 bytes after an unknown marker, past a marker
      // that starts 11 bytes after it...
      {"marker_right_after_unknown_marker_is_missed",
       "-----BEGIN " + Block("CERTIFICATE", "QUJD\n"), kCertOnly, {}},
      // ...but not past one that starts a byte later.
      {"marker_twelve_bytes_later_is_found",
       "-----BEGIN X" + Block("CERTIFICATE", "QUJD\n"), kCertOnly,
       {{"CERTIFICATE", "ABC"}}},
      // Header lines are not interpreted: the body fails to decode.
      {"encryption_headers_skip_the_block",
       Block("CERTIFICATE", "Proc-Type: 4,ENCRYPTED\nQUJD\n") +
           Block("CERTIFICATE", "REVG\n"),
       kCertOnly, {{"CERTIFICATE", "DEF"}}},
      {"marker_case_matters", Block("Certificate", "QUJD\n"), kCertOnly, {}},
      {"empty_body", Block("CERTIFICATE", ""), kCertOnly, {{"CERTIFICATE", ""}}},
      {"empty_text", "", kCertOnly, {}},
      {"marker_at_the_very_end", "-----BEGIN ", kCertOnly, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, Tokenize(c.text, c.allowed));
  }
}

}  // namespace
}  // namespace net
