#include "agent/base/functional/bind.h"

#include <memory>
#include <string>
#include <utility>

#include "agent/base/functional/callback.h"
#include "agent/base/memory/weak_ptr.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

int Digits(int a, int b, int c) { return a * 100 + b * 10 + c; }

int Unbox(std::unique_ptr<int> value) { return *value; }

void Append(std::string* out, const std::string& text) { *out += text; }

class Counter {
 public:
  void Add(int amount) { total_ += amount; }
  int Total() const { return total_; }
  int Scaled(int factor) const { return total_ * factor; }

  WeakPtr<Counter> GetWeakPtr() { return weak_factory_.GetWeakPtr(); }
  void InvalidateWeakPtrs() { weak_factory_.InvalidateWeakPtrs(); }

 private:
  int total_ = 0;
  WeakPtrFactory<Counter> weak_factory_{this};
};

TEST(BindTest, BoundArgumentsComeFirst) {
  EXPECT_EQ(123, BindOneShot(&Digits, 1, 2, 3).Run());
  EXPECT_EQ(123, BindOneShot(&Digits, 1, 2).Run(3));
  EXPECT_EQ(123, BindOneShot(&Digits, 1).Run(2, 3));
  EXPECT_EQ(123, BindOneShot(&Digits).Run(1, 2, 3));
  RepeatableCallback<int(int)> repeatable = BindRepeatable(&Digits, 4, 5);
  EXPECT_EQ(456, repeatable.Run(6));
  EXPECT_EQ(457, repeatable.Run(7));
}

TEST(BindTest, OneShotPassesMoveOnlyArgumentsOn) {
  OneShotCallback<int()> callback =
      BindOneShot(&Unbox, std::make_unique<int>(9));
  EXPECT_EQ(9, callback.Run());

  OneShotCallback<int(std::unique_ptr<int>)> unbound = BindOneShot(&Unbox);
  EXPECT_EQ(4, unbound.Run(std::make_unique<int>(4)));
}

TEST(BindTest, MoveOnlyResults) {
  OneShotCallback<std::unique_ptr<int>()> make =
      BindOneShot([](int v) { return std::make_unique<int>(v); }, 11);
  std::unique_ptr<int> result = make.Run();
  ASSERT_NE(nullptr, result);
  EXPECT_EQ(11, *result);
}

TEST(BindTest, RepeatableKeepsItsBoundValues) {
  std::string out;
  RepeatableCallback<void()> callback =
      BindRepeatable(&Append, &out, std::string("ab"));
  callback.Run();
  callback.Run();
  EXPECT_EQ("abab", out);

  RepeatableCallback<void(const std::string&)> unbound =
      BindRepeatable(&Append, &out);
  unbound.Run("!");
  EXPECT_EQ("abab!", out);
}

TEST(BindTest, MethodsOnRawPointers) {
  Counter counter;
  BindOneShot(&Counter::Add, &counter, 3).Run();
  RepeatableCallback<void(int)> add = BindRepeatable(&Counter::Add, &counter);
  add.Run(4);
  EXPECT_EQ(7, BindOneShot(&Counter::Total, &counter).Run());
  const Counter* const_counter = &counter;
  EXPECT_EQ(14, BindRepeatable(&Counter::Scaled, const_counter).Run(2));
}

TEST(BindTest, LambdasAndCapturingFunctors) {
  int calls = 0;
  RepeatableCallback<void()> counting = BindRepeatable([&calls] { ++calls; });
  counting.Run();
  counting.Run();
  EXPECT_EQ(2, calls);

  auto owned = std::make_unique<int>(5);
  OneShotCallback<int(int)> move_only_lambda = BindOneShot(
      [owned = std::move(owned)](int add) { return *owned + add; });
  EXPECT_EQ(8, move_only_lambda.Run(3));

  RepeatableCallback<int()> stateful =
      BindRepeatable([n = 0]() mutable { return ++n; });
  EXPECT_EQ(1, stateful.Run());
  EXPECT_EQ(2, stateful.Run());
}

TEST(BindTest, WeakReceiverRunsWhileValid) {
  Counter counter;
  RepeatableCallback<void(int)> add =
      BindRepeatable(&Counter::Add, counter.GetWeakPtr());
  EXPECT_FALSE(add.IsCancelled());
  EXPECT_TRUE(add.IsPossiblyValid());
  add.Run(5);
  EXPECT_EQ(5, counter.Total());
}

TEST(BindTest, WeakReceiverInvalidatedIsCancelledAndDoesNothing) {
  Counter counter;
  OneShotClosure task = BindOneShot(&Counter::Add, counter.GetWeakPtr(), 5);
  RepeatableCallback<void(int)> add =
      BindRepeatable(&Counter::Add, counter.GetWeakPtr());
  counter.InvalidateWeakPtrs();
  EXPECT_TRUE(task.IsCancelled());
  EXPECT_FALSE(task.IsPossiblyValid());
  EXPECT_TRUE(add.IsCancelled());
  task.Run();
  add.Run(7);
  EXPECT_EQ(0, counter.Total());
  EXPECT_TRUE(task.is_null());
}

TEST(BindTest, WeakReceiverOfADestroyedOwner) {
  auto counter = std::make_unique<Counter>();
  OneShotClosure task = BindOneShot(&Counter::Add, counter->GetWeakPtr(), 1);
  counter.reset();
  EXPECT_TRUE(task.IsCancelled());
  task.Run();  // Must not touch the freed object.
}

TEST(BindTest, NullWeakReceiverIsCancelled) {
  OneShotClosure task = BindOneShot(&Counter::Add, WeakPtr<Counter>(), 1);
  EXPECT_TRUE(task.IsCancelled());
  EXPECT_FALSE(task.IsPossiblyValid());
  task.Run();
}

TEST(BindTest, CallbackAsFunctorRunsTheInnerOne) {
  OneShotCallback<int(int, int)> inner = BindOneShot(&Digits, 7);
  OneShotCallback<int(int)> outer = BindOneShot(std::move(inner), 8);
  EXPECT_TRUE(inner.is_null());
  EXPECT_EQ(789, outer.Run(9));

  RepeatableCallback<int(int, int)> repeat_inner = BindRepeatable(&Digits, 1);
  RepeatableCallback<int(int)> repeat_outer = BindRepeatable(repeat_inner, 2);
  EXPECT_EQ(123, repeat_outer.Run(3));
  EXPECT_EQ(124, repeat_outer.Run(4));
  OneShotCallback<int()> once_over_repeat = BindOneShot(repeat_inner, 3, 3);
  EXPECT_EQ(133, once_over_repeat.Run());
}

TEST(BindTest, CallbackAsFunctorForwardsCancellation) {
  Counter counter;
  RepeatableCallback<void(int)> inner =
      BindRepeatable(&Counter::Add, counter.GetWeakPtr());
  OneShotClosure outer = BindOneShot(inner, 2);
  EXPECT_FALSE(outer.IsCancelled());
  EXPECT_TRUE(outer.IsPossiblyValid());
  counter.InvalidateWeakPtrs();
  EXPECT_TRUE(outer.IsCancelled());
  EXPECT_FALSE(outer.IsPossiblyValid());
  outer.Run();
  EXPECT_EQ(0, counter.Total());

  // A plain inner callback is never cancelled.
  OneShotClosure plain = BindOneShot(BindRepeatable([] {}));
  EXPECT_FALSE(plain.IsCancelled());
  EXPECT_TRUE(plain.IsPossiblyValid());
}

TEST(BindDeathTest, NullFunctorsAreFatal) {
  int (*null_function)(int, int, int) = nullptr;
  EXPECT_DEATH(BindOneShot(null_function, 1, 2, 3),
               "Check failed: !IsNull\\(functor_\\)");
  void (Counter::*null_method)(int) = nullptr;
  Counter counter;
  EXPECT_DEATH(BindRepeatable(null_method, &counter),
               "Check failed: !IsNull\\(functor_\\)");
  OneShotClosure empty;
  EXPECT_DEATH(BindOneShot(std::move(empty)),
               "Check failed: !IsNull\\(functor_\\)");
  RepeatableCallback<void()> empty_repeatable;
  EXPECT_DEATH(BindRepeatable(empty_repeatable),
               "Check failed: !IsNull\\(functor_\\)");
}

}  // namespace
}  // namespace kelmbase
