#include "agent/base/at_exit.h"

#include <cstdlib>
#include <string>
#include <utility>

#include "agent/base/functional/bind.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

void AppendTag(void* argument) {
  static_cast<std::string*>(argument)->push_back('x');
}

OneShotClosure AppendChar(std::string* out, char c) {
  return BindOneShot([](std::string* o, char ch) { o->push_back(ch); }, out,
                     c);
}

// Notes whether it was destroyed; bound into closures to see them dropped.
class DropRecorder {
 public:
  explicit DropRecorder(bool* destroyed) : destroyed_(destroyed) {}
  DropRecorder(DropRecorder&& other) noexcept
      : destroyed_(std::exchange(other.destroyed_, nullptr)) {}
  DropRecorder& operator=(DropRecorder&&) = delete;
  ~DropRecorder() {
    if (destroyed_) *destroyed_ = true;
  }

 private:
  bool* destroyed_;
};

TEST(AtExitStackTest, CallbacksRunNewestFirst) {
  std::string order;
  {
    AtExitStack stack;
    AtExitStack::AddTask(AppendChar(&order, '1'));
    AtExitStack::AddTask(AppendChar(&order, '2'));
    AtExitStack::AddTask(AppendChar(&order, '3'));
    EXPECT_EQ("", order);
  }
  EXPECT_EQ("321", order);
}

TEST(AtExitStackTest, AddCallbackCallsFunctionWithArgument) {
  std::string out;
  {
    AtExitStack stack;
    AtExitStack::AddCallback(&AppendTag, &out);
    AtExitStack::AddCallback(&AppendTag, &out);
  }
  EXPECT_EQ("xx", out);
}

TEST(AtExitStackTest, WithoutAStackTasksAreDroppedUnrun) {
  bool ran = false;
  bool destroyed = false;
  AtExitStack::AddTask(BindOneShot(
      [](bool* r, const DropRecorder&) { *r = true; }, &ran,
      DropRecorder(&destroyed)));
  EXPECT_FALSE(ran);
  EXPECT_TRUE(destroyed);
  AtExitStack::RunCallbacks();  // No stack: nothing to do.
  EXPECT_FALSE(ran);
}

TEST(AtExitStackTest, RunCallbacksEmptiesTheStack) {
  std::string order;
  AtExitStack stack;
  AtExitStack::AddTask(AppendChar(&order, 'a'));
  AtExitStack::AddTask(AppendChar(&order, 'b'));
  AtExitStack::RunCallbacks();
  EXPECT_EQ("ba", order);
  AtExitStack::RunCallbacks();
  EXPECT_EQ("ba", order);
  AtExitStack::AddTask(AppendChar(&order, 'c'));
  AtExitStack::RunCallbacks();
  EXPECT_EQ("bac", order);
}

// A callback that registers another: the new one lands on the emptied
// stack, is not run by the pass in progress, and is destroyed unrun with
// the stack.
TEST(AtExitStackTest, CallbacksRegisteredWhileRunningAreDroppedAtTheEnd) {
  std::string order;
  bool late_ran = false;
  bool late_destroyed = false;
  {
    AtExitStack stack;
    AtExitStack::AddTask(AppendChar(&order, '1'));
    AtExitStack::AddTask(BindOneShot(
        [](std::string* o, bool* ran, bool* destroyed) {
          o->push_back('2');
          AtExitStack::AddTask(BindOneShot(
              [](bool* r, const DropRecorder&) { *r = true; }, ran,
              DropRecorder(destroyed)));
        },
        &order, &late_ran, &late_destroyed));
    AtExitStack::AddTask(AppendChar(&order, '3'));
  }
  EXPECT_EQ("321", order);
  EXPECT_FALSE(late_ran);
  EXPECT_TRUE(late_destroyed);
}

TEST(AtExitStackTest, NestedStacksRestoreThePreviousTop) {
  std::string order;
  {
    AtExitStack outer;
    AtExitStack::AddTask(AppendChar(&order, 'o'));
    {
      AtExitStack inner;
      AtExitStack::AddTask(AppendChar(&order, 'i'));
    }
    EXPECT_EQ("i", order);
    AtExitStack::AddTask(AppendChar(&order, 'p'));
  }
  EXPECT_EQ("ipo", order);
}

TEST(AtExitStackDeathTest, DisabledStacksDestroyCallbacksUnrun) {
  // The switch is process-wide, so it is thrown in a child process.
  EXPECT_EXIT(
      {
        bool ran = false;
        bool destroyed = false;
        AtExitStack::DisableAllAtExitStacks();
        {
          AtExitStack stack;
          AtExitStack::AddTask(BindOneShot(
              [](bool* r, const DropRecorder&) { *r = true; }, &ran,
              DropRecorder(&destroyed)));
        }
        std::exit(!ran && destroyed ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kelmbase
