#include "agent/base/trace_event/category_pattern_filter.h"

#include <set>
#include <string>
#include <vector>

#include "agent/base/trace_event/event_filter_config.h"
#include "agent/base/values.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

TEST(CategoryPatternFilterTest, Groups) {
  struct Case {
    const char* label;
    std::vector<std::string> included;
    std::vector<std::string> disabled;
    std::vector<std::string> excluded;
    const char* group;
    bool enabled;
  };
  const Case kCases[] = {
      {"empty filter, plain name", {}, {}, {}, "base", true},
      {"empty filter, plain group", {}, {}, {}, "base,toplevel", true},
      {"empty filter, disabled-by-default name",
       {}, {}, {}, "disabled-by-default-sequence_manager", false},
      {"empty filter, plain and disabled-by-default",
       {}, {}, {}, "toplevel,disabled-by-default-lifecycles", true},
      {"disabled-by-default named explicitly",
       {}, {"disabled-by-default-lifecycles"}, {},
       "disabled-by-default-lifecycles", true},
      {"disabled-by-default pattern with wildcard",
       {}, {"disabled-by-default-sequence_manager*"}, {},
       "disabled-by-default-sequence_manager.debug", true},
      {"excluded name", {}, {}, {"base"}, "base", false},
      {"excluded name in a group with a plain one",
       {}, {}, {"base"}, "base,toplevel", true},
      {"excluded by wildcard", {}, {}, {"top*"}, "toplevel,toplevel.flow",
       false},
      {"include list names it", {"toplevel"}, {}, {}, "toplevel", true},
      {"include list does not name it", {"toplevel"}, {}, {}, "base", false},
      {"include list with wildcard", {"sequence_*"}, {}, {},
       "sequence_manager", true},
      {"include list and a disabled-by-default name", {"*"}, {}, {},
       "disabled-by-default-lifecycles", false},
  };
  for (const Case& c : kCases) {
    CategoryPatternFilter filter;
    filter.included_categories() = c.included;
    filter.disabled_categories() = c.disabled;
    filter.excluded_categories() = c.excluded;
    EXPECT_EQ(filter.IsCategoryGroupEnabled(c.group), c.enabled) << c.label;
  }
}

TEST(EventFilterConfigTest, GetArgAsSetReadsStringsOfAList) {
  EventFilterConfig config("event_whitelist_predicate");
  Value::ListStorage list;
  list.emplace_back("a");
  list.emplace_back(3);  // Not a string: skipped.
  list.emplace_back("b");
  Value args(Value::Type::DICTIONARY);
  args.SetKey("event_name_allowlist", Value(std::move(list)));
  args.SetStringKey("not_a_list", "x");
  config.SetArgs(std::move(args));

  std::set<std::string> names;
  EXPECT_TRUE(config.GetArgAsSet("event_name_allowlist", &names));
  EXPECT_EQ(names, (std::set<std::string>{"a", "b"}));
  EXPECT_FALSE(config.GetArgAsSet("missing", &names));
  EXPECT_FALSE(config.GetArgAsSet("not_a_list", &names));

  EventFilterConfig copy = config;
  names.clear();
  EXPECT_TRUE(copy.GetArgAsSet("event_name_allowlist", &names));
  EXPECT_EQ(names.size(), 2u);
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
