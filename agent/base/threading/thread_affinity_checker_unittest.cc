#include "agent/base/threading/thread_affinity_checker.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "agent/base/debug/stack_trace.h"
#include "agent/base/debug/symbolize.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using debug::StackTrace;

// The symbol names of a trace's frames, one a line.
std::string SymbolsOf(const StackTrace& trace) {
  size_t count;
  const void* const* addresses = trace.Addresses(&count);
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    char name[1024];
    if (debug::SymbolizePc(reinterpret_cast<uintptr_t>(addresses[i]) - 1, name,
                           sizeof(name))) {
      text += name;
    }
    text += '\n';
  }
  return text;
}

// Asks from a new thread; `*bound_at` receives what the checker hands out.
bool AskFromAnotherThread(const ThreadAffinityChecker& checker,
                          std::unique_ptr<StackTrace>* bound_at) {
  bool answer = true;
  std::thread([&] { answer = checker.IsOnBoundThread(bound_at); }).join();
  return answer;
}

[[gnu::noinline]] std::unique_ptr<ThreadAffinityChecker> BindChecker() {
  auto checker = std::make_unique<ThreadAffinityChecker>();
  asm volatile("" ::: "memory");
  return checker;
}

[[gnu::noinline]] void RebindChecker(const ThreadAffinityChecker& checker) {
  EXPECT_TRUE(checker.IsOnBoundThread());
  asm volatile("" ::: "memory");
}

// Turns bound-at capture on for one test.
class BoundAtCaptureTest : public testing::Test {
 protected:
  void SetUp() override { ThreadAffinityChecker::SetBoundAtCaptureEnabled(true); }
  void TearDown() override {
    ThreadAffinityChecker::SetBoundAtCaptureEnabled(false);
  }
};

TEST(ThreadAffinityCheckerTest, CaptureIsOffByDefault) {
  EXPECT_FALSE(ThreadAffinityChecker::IsBoundAtCaptureEnabled());
  const std::unique_ptr<ThreadAffinityChecker> checker = BindChecker();
  std::unique_ptr<StackTrace> bound_at;
  EXPECT_FALSE(AskFromAnotherThread(*checker, &bound_at));
  EXPECT_EQ(bound_at, nullptr);
}

TEST_F(BoundAtCaptureTest, AnotherThreadGetsWhereItWasBound) {
  const std::unique_ptr<ThreadAffinityChecker> checker = BindChecker();
  std::unique_ptr<StackTrace> bound_at;
  EXPECT_FALSE(AskFromAnotherThread(*checker, &bound_at));
  ASSERT_NE(bound_at, nullptr);
  size_t count;
  bound_at->Addresses(&count);
  EXPECT_EQ(count, ThreadAffinityChecker::kBoundAtFrames);
  EXPECT_NE(SymbolsOf(*bound_at).find("BindChecker()"), std::string::npos)
      << SymbolsOf(*bound_at);

  // Each wrong-thread caller gets its own copy.
  std::unique_ptr<StackTrace> again;
  EXPECT_FALSE(AskFromAnotherThread(*checker, &again));
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again.get(), bound_at.get());
}

TEST_F(BoundAtCaptureTest, NoTraceOnTheBoundThreadOrWithoutOutPointer) {
  const std::unique_ptr<ThreadAffinityChecker> checker = BindChecker();
  std::unique_ptr<StackTrace> bound_at;
  EXPECT_TRUE(checker->IsOnBoundThread(&bound_at));
  EXPECT_EQ(bound_at, nullptr);
  EXPECT_FALSE(AskFromAnotherThread(*checker, nullptr));
}

TEST_F(BoundAtCaptureTest, DetachedCheckerRecordsItsNextBinder) {
  const std::unique_ptr<ThreadAffinityChecker> checker = BindChecker();
  checker->DetachFromThread();
  RebindChecker(*checker);
  std::unique_ptr<StackTrace> bound_at;
  EXPECT_FALSE(AskFromAnotherThread(*checker, &bound_at));
  ASSERT_NE(bound_at, nullptr);
  const std::string symbols = SymbolsOf(*bound_at);
  EXPECT_NE(symbols.find("RebindChecker("), std::string::npos) << symbols;
  EXPECT_EQ(symbols.find("BindChecker()"), std::string::npos) << symbols;
}

TEST_F(BoundAtCaptureTest, CheckerBoundWithCaptureOffHasNoTrace) {
  ThreadAffinityChecker::SetBoundAtCaptureEnabled(false);
  const std::unique_ptr<ThreadAffinityChecker> checker = BindChecker();
  ThreadAffinityChecker::SetBoundAtCaptureEnabled(true);
  std::unique_ptr<StackTrace> bound_at;
  EXPECT_FALSE(AskFromAnotherThread(*checker, &bound_at));
  EXPECT_EQ(bound_at, nullptr);
}

}  // namespace
}  // namespace kelmbase
