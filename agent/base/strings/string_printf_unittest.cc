#include "agent/base/strings/string_printf.h"

#include <cerrno>
#include <cstdarg>
#include <cwchar>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(StringPrintfTest, FormatString) {
  EXPECT_EQ(FormatString("%s", ""), "");
  EXPECT_EQ(FormatString("-----BEGIN %s-----", "CERTIFICATE"),
            "-----BEGIN CERTIFICATE-----");
  EXPECT_EQ(FormatString("%d %5.2f %x %c", -42, 3.14159, 255, 'z'),
            "-42  3.14 ff z");
  EXPECT_EQ(FormatString("%s.%s", "Kelm.Sign", "Error.SignatureEmpty"),
            "Kelm.Sign.Error.SignatureEmpty");
}

TEST(StringPrintfTest, AppendFormatAppends) {
  std::string s = "value=";
  AppendFormat(&s, "%d", 7);
  AppendFormat(&s, "%s", "");
  AppendFormat(&s, ",%02X", 10);
  EXPECT_EQ(s, "value=7,0A");
}

// Results of every length around the stack buffer's size and a few larger
// ones; each must come out whole and exact.
TEST(StringPrintfTest, LongResults) {
  for (size_t length : {1022u, 1023u, 1024u, 1025u, 2047u, 2048u, 2049u,
                        100000u}) {
    std::string expected(length, 'x');
    for (size_t i = 0; i < length; i += 97) expected[i] = static_cast<char>('a' + i % 26);
    std::string s = "<";
    AppendFormat(&s, "%s", expected.c_str());
    EXPECT_EQ(s, "<" + expected) << length;
    EXPECT_EQ(FormatString("%s|%d", expected.c_str(), 5), expected + "|5");
  }
}

TEST(StringPrintfTest, ArgumentsSurviveRetries) {
  // The long first argument forces a second pass; the later ones must still
  // read right.
  std::string big(3000, 'q');
  EXPECT_EQ(FormatString("%s%d%s", big.c_str(), 12345, "end"),
            big + "12345end");
}

TEST(StringPrintfTest, LargestResultIsAccepted) {
  // 32 MiB including the terminator is the largest buffer allowed.
  const int width = 32 * 1024 * 1024 - 1;
  std::string s = FormatString("%*d", width, 7);
  ASSERT_EQ(s.size(), static_cast<size_t>(width));
  EXPECT_EQ(s.back(), '7');
  EXPECT_EQ(s.front(), ' ');
}

TEST(StringPrintfTest, OversizedResultAppendsNothingAndKeepsErrno) {
  std::string s = "kept";
  errno = EINTR;
  AppendFormat(&s, "%*d", 32 * 1024 * 1024, 7);
  EXPECT_EQ(errno, EINTR);
  EXPECT_EQ(s, "kept");
  errno = 0;
}

TEST(StringPrintfTest, EncodingErrorAppendsNothingAndKeepsErrno) {
  // No locale is set, so a wide character outside ASCII cannot be
  // converted: the formatter fails with EILSEQ and the text is refused.
  const wchar_t bad[] = {0x4E2D, 0};
  std::string s = "kept";
  errno = ENOENT;
  AppendFormat(&s, "%ls", bad);
  EXPECT_EQ(s, "kept");
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
}

TEST(StringPrintfTest, SuccessKeepsErrno) {
  errno = EAGAIN;
  EXPECT_EQ(FormatString("%d", 1), "1");
  EXPECT_EQ(errno, EAGAIN);
  std::string big(5000, 'b');
  EXPECT_EQ(FormatString("%s", big.c_str()), big);
  EXPECT_EQ(errno, EAGAIN);
  errno = 0;
}

void AppendThroughVaList(std::string* dst, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void AppendThroughVaList(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  AppendFormatV(dst, format, ap);
  va_end(ap);
}

TEST(StringPrintfTest, AppendFormatV) {
  std::string s;
  AppendThroughVaList(&s, "%s=%u", "n", 3u);
  EXPECT_EQ(s, "n=3");
}

}  // namespace
}  // namespace kelmbase
