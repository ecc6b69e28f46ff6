#include "base/fatal_message.h"

#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "logging/log.h"

namespace base {
namespace {

// The record as the logging library hands it over: text, newline, NUL.
std::string Saved(const std::string& text) {
  std::string record = text + "\n";
  SaveFatalMessage(record.c_str(), record.size() + 1);
  return SavedFatalMessage();
}

TEST(SaveFatalMessageTest, KeepsTheTextAndOneNewline) {
  struct Case {
    std::string text;
    std::string kept;
  } cases[] = {
      {"short", "short\n"},
      {std::string(600, 'x'), std::string(510, 'x') + "\n"},
      {std::string(510, 'y'), std::string(510, 'y') + "\n"},
      {"ends with newline\n", "ends with newline\n"},
      {"", "\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Saved(c.text), c.kept) << c.text.size();
  }
}

TEST(SaveFatalMessageTest, RecordsTooShortForNewlineAndNulKeepNoText) {
  struct Case {
    const char* record;
    size_t size;
  } cases[] = {{"", 0}, {"", 1}, {"\n", 2}};
  for (const Case& c : cases) {
    SaveFatalMessage(c.record, c.size);
    EXPECT_STREQ(SavedFatalMessage(), "\n") << c.size;
  }
}

TEST(SaveFatalMessageDeathTest, FatalRecordsAreKeptBeforeTheProcessEnds) {
  // The saved text is only visible in the dying child; have it print it.
  EXPECT_DEATH(
      {
        kelm_log::SetFatalStackDumper([](int) {
          const char* saved = SavedFatalMessage();
          std::string line = std::string("saved=[") +
                             (saved != nullptr ? saved : "none") + "]";
          kelm_log::WriteToStderr(line.data(), line.size());
        });
        LOG(FATAL) << "the end";
      },
      "saved=\\[F[^\n]*\\] the end\n\\]");
}

}  // namespace
}  // namespace base
