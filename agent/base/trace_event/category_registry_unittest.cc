#include "agent/base/trace_event/category_registry.h"

#include <cstring>
#include <string>
#include <vector>

#include "agent/base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace trace_event {
namespace {

// The registry is process-wide and only grows: each test starts with the
// built-in table alone, and leaves it so.
class CategoryRegistryTest : public testing::Test {
 protected:
  void SetUp() override { CategoryRegistry::ResetForTesting(); }
  void TearDown() override { CategoryRegistry::ResetForTesting(); }
};

TEST_F(CategoryRegistryTest, BuiltinTableHasItsFixedShape) {
  EXPECT_EQ(CategoryRegistry::size(), CategoryRegistry::kNumBuiltinCategories);
  EXPECT_STREQ(CategoryRegistry::Builtin(CategoryRegistry::kCategoryExhausted)
                   ->category_name(),
               "tracing_categories_exhausted._must_increase_kMaxCategories");
  EXPECT_STREQ(
      CategoryRegistry::Builtin(CategoryRegistry::kAlreadyShutdown)
          ->category_name(),
      "tracing_already_shutdown");
  EXPECT_STREQ(
      CategoryRegistry::Builtin(CategoryRegistry::kMetadata)->category_name(),
      "__metadata");

  // Every built-in name once; the disabled-by-default ones form the last
  // block.
  size_t disabled_by_default = 0;
  bool in_disabled_block = false;
  std::vector<std::string> seen;
  for (const TraceCategory& category : CategoryRegistry::GetAllCategories()) {
    const std::string name = category.category_name();
    for (const std::string& other : seen)
      EXPECT_NE(name, other);
    seen.push_back(name);
    const bool disabled = name.rfind("disabled-by-default-", 0) == 0;
    if (disabled) {
      ++disabled_by_default;
      in_disabled_block = true;
    } else {
      EXPECT_FALSE(in_disabled_block) << name;
    }
    EXPECT_EQ(category.state_bits(), 0) << name;
  }
  EXPECT_EQ(disabled_by_default, 93u);
}

TEST_F(CategoryRegistryTest, ProgramCategoriesAreBuiltinEntries) {
  struct Case {
    CategoryRegistry::BuiltinIndex index;
    const char* name;
  };
  const Case kCases[] = {
      {CategoryRegistry::kBase, "base"},
      {CategoryRegistry::kSkellat, "skellat"},
      {CategoryRegistry::kSequenceManager, "sequence_manager"},
      {CategoryRegistry::kToplevel, "toplevel"},
      {CategoryRegistry::kToplevelFlow, "toplevel.flow"},
      {CategoryRegistry::kDisabledByDefaultDevtoolsTimeline,
       "disabled-by-default-devtools.timeline"},
      {CategoryRegistry::kDisabledByDefaultLifecycles,
       "disabled-by-default-lifecycles"},
      {CategoryRegistry::kDisabledByDefaultSequenceManager,
       "disabled-by-default-sequence_manager"},
      {CategoryRegistry::kDisabledByDefaultSequenceManagerDebug,
       "disabled-by-default-sequence_manager.debug"},
      {CategoryRegistry::kDisabledByDefaultSequenceManagerVerboseSnapshots,
       "disabled-by-default-sequence_manager.verbose_snapshots"},
      {CategoryRegistry::kDisabledByDefaultToplevelIpc,
       "disabled-by-default-toplevel.ipc"},
  };
  for (const Case& c : kCases) {
    EXPECT_STREQ(CategoryRegistry::Builtin(c.index)->category_name(), c.name);
    EXPECT_EQ(CategoryRegistry::FindCategoryByName(c.name),
              CategoryRegistry::Builtin(c.index));
    EXPECT_EQ(TraceLog::GetInstance()->GetCategoryState(c.name),
              CategoryRegistry::Builtin(c.index))
        << "a built-in name must not be added again";
  }
  EXPECT_EQ(CategoryRegistry::size(), CategoryRegistry::kNumBuiltinCategories);
}

TEST_F(CategoryRegistryTest, StatePointerIsTheEntry) {
  TraceCategory* base = CategoryRegistry::Builtin(CategoryRegistry::kBase);
  const uint8_t* state = reinterpret_cast<const uint8_t*>(&base->state);
  EXPECT_EQ(CategoryRegistry::FromStatePtr(state), base);
}

TEST_F(CategoryRegistryTest, SixtyThreeNewNamesFitTheSixtyFourthIsRefused) {
  TraceLog* log = TraceLog::GetInstance();
  TraceCategory* first = log->GetCategoryState("new.category.0");
  EXPECT_EQ(first, &internal::g_categories[237]);
  EXPECT_EQ(log->GetCategoryState("new.category.0"), first)
      << "a name registered twice returns the first entry";

  std::vector<std::string> names;
  for (int i = 1; i < 63; ++i)
    names.push_back("new.category." + std::to_string(i));
  TraceCategory* last = nullptr;
  for (const std::string& name : names)
    last = log->GetCategoryState(name.c_str());
  EXPECT_EQ(last, &internal::g_categories[299]);
  EXPECT_STREQ(last->category_name(), "new.category.62");
  EXPECT_EQ(CategoryRegistry::size(), CategoryRegistry::kMaxCategories);

  TraceCategory* refused = log->GetCategoryState("new.category.63");
  EXPECT_EQ(refused,
            CategoryRegistry::Builtin(CategoryRegistry::kCategoryExhausted));
  EXPECT_EQ(CategoryRegistry::FindCategoryByName("new.category.63"), nullptr);
  EXPECT_EQ(CategoryRegistry::size(), CategoryRegistry::kMaxCategories);
}

}  // namespace
}  // namespace trace_event
}  // namespace kelmbase
