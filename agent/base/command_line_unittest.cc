#include "agent/base/command_line.h"

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

// Each test starts without the process-wide instance and leaves none behind.
class CommandLineTest : public testing::Test {
 protected:
  void SetUp() override { CommandLine::ResetForTesting(); }
  void TearDown() override { CommandLine::ResetForTesting(); }

  // Parses into the process-wide instance.
  static CommandLine* Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "/usr/bin/tarvik");
    EXPECT_TRUE(CommandLine::Init(static_cast<int>(args.size()), args.data()));
    return CommandLine::Current();
  }
};

TEST_F(CommandLineTest, InitOnceThenCurrent) {
  EXPECT_FALSE(CommandLine::IsInitialized());
  EXPECT_EQ(CommandLine::Current(), nullptr);
  CommandLine* first = Parse({"--action=create"});
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(CommandLine::IsInitialized());

  const char* other[] = {"prog", "--action=delete"};
  EXPECT_FALSE(CommandLine::Init(2, other));
  EXPECT_EQ(CommandLine::Current(), first);
  EXPECT_EQ(first->GetSwitchValue("action"), "create");
  EXPECT_EQ(first->GetProgram(), "/usr/bin/tarvik");
}

TEST_F(CommandLineTest, SwitchForms) {
  struct Case {
    const char* arg;
    const char* key;
    const char* value;
    const char* argv_form;
  } cases[] = {
      {"--action=create", "action", "create", "--action=create"},
      {"-action=create", "action", "create", "-action=create"},
      {"---x", "-x", "", "---x"},
      {"-=v", "", "v", "-=v"},
      {"--a=b=c", "a", "b=c", "--a=b=c"},
      {"--a=", "a", "", "--a"},
      {"  --a=1  ", "a", "1", "--a=1"},
      {"--logtofile", "logtofile", "", "--logtofile"},
  };
  CommandLine* line = Parse({});
  for (const Case& c : cases) {
    line->SetFromArgv({"prog", c.arg});
    EXPECT_THAT(line->switches(), ElementsAre(Pair(c.key, c.value))) << c.arg;
    EXPECT_THAT(line->argv(), ElementsAre("prog", c.argv_form)) << c.arg;
    EXPECT_THAT(line->GetArgs(), IsEmpty()) << c.arg;
  }
}

TEST_F(CommandLineTest, NonSwitchesArePlainArguments) {
  CommandLine* line = Parse({"-", "--", "plain", "--action=create"});
  EXPECT_FALSE(line->HasSwitch("action"));
  EXPECT_THAT(line->switches(), IsEmpty());
  EXPECT_THAT(line->GetArgs(), ElementsAre("-", "--", "plain", "--action=create"));
}

TEST_F(CommandLineTest, TerminatorEndsSwitchParsing) {
  CommandLine* line = Parse({"--", "--action=create"});
  EXPECT_FALSE(line->HasSwitch("action"));
  EXPECT_EQ(line->GetSwitchValue("action"), "");
  EXPECT_THAT(line->GetArgs(), ElementsAre("--", "--action=create"));
}

TEST_F(CommandLineTest, LastSwitchWinsAndArgvKeepsBoth) {
  CommandLine* line = Parse({"x", "--a=1", "y", "--a=2"});
  EXPECT_EQ(line->GetSwitchValue("a"), "2");
  EXPECT_THAT(line->argv(),
              ElementsAre("/usr/bin/tarvik", "--a=1", "--a=2", "x", "y"));
  EXPECT_THAT(line->GetArgs(), ElementsAre("x", "y"));
}

TEST_F(CommandLineTest, AppendSwitchWithoutPrefixGetsDashes) {
  CommandLine* line = Parse({"arg"});
  line->AppendSwitch("name", "value");
  line->AppendSwitch("-single", "");
  EXPECT_THAT(line->argv(), ElementsAre("/usr/bin/tarvik", "--name=value",
                                        "-single", "arg"));
  EXPECT_TRUE(line->HasSwitch("name"));
  EXPECT_TRUE(line->HasSwitch("single"));
  EXPECT_FALSE(line->HasSwitch("Name"));
}

TEST_F(CommandLineTest, AsciiSwitchValue) {
  CommandLine* line = Parse({"--action=cr\xc3\xa9\x61te", "--b=plain"});
  EXPECT_EQ(line->GetSwitchValue("action"), "cr\xc3\xa9\x61te");
  EXPECT_EQ(line->GetAsciiSwitchValue("action"), "");
  EXPECT_EQ(line->GetAsciiSwitchValue("b"), "plain");
  EXPECT_EQ(line->GetAsciiSwitchValue("missing"), "");
}

TEST_F(CommandLineTest, ProgramIsTrimmedAndEmptyArgvLeavesItEmpty) {
  CommandLine* line = Parse({});
  line->SetFromArgv({"  /bin/x \t", "--a"});
  EXPECT_EQ(line->GetProgram(), "/bin/x");
  line->SetFromArgv({});
  EXPECT_EQ(line->GetProgram(), "");
  EXPECT_THAT(line->argv(), ElementsAre(""));
  EXPECT_THAT(line->switches(), IsEmpty());
}

TEST_F(CommandLineTest, ProgramStopsAtEmbeddedNul) {
  CommandLine* line = Parse({});
  line->SetFromArgv({std::string("/bin/x\0junk", 11)});
  EXPECT_EQ(line->GetProgram(), "/bin/x");
}

}  // namespace
}  // namespace kelmbase
