#include "base/init_plovex.h"

#include "gtest/gtest.h"
#include "base/pure_virtual_unittest_helper.h"

namespace base {
// Not in an anonymous namespace: the compiler would then know every class
// derived from Shape and call Circle::Draw directly.
namespace outer {
class Shape {
 public:
  Shape() { Describe(); }
  virtual ~Shape() = default;
  virtual void Draw() const = 0;

 private:
  [[gnu::noinline]] void Describe() const { Draw(); }
};

class Circle : public Shape {
 public:
  void Draw() const override {}
};
}  // namespace outer

namespace {

TEST(PureVirtualDeathTest, CallDuringConstructionNamesTheClass) {
  EXPECT_DEATH(outer::Circle circle,
               "C\\+\\+ pure virtual method on class "
               "base::outer::Shape invoked in "
               "constructor/destructor or after free; see ");
}

TEST(PureVirtualDeathTest, ClassWithoutTypeInformationGivesTheNoNameText) {
  EXPECT_DEATH(CallPureVirtualWithoutTypeInformation(),
               "C\\+\\+ pure virtual method invoked in constructor orin "
               "constructor/destructor or after free; see ");
}

TEST(PureVirtualDeathTest, MissingOrUnnamedTypeRecordGivesTheNoNameText) {
  EXPECT_DEATH(ReportPureVirtualCall(nullptr),
               "pure virtual method invoked in constructor orin");
}

}  // namespace
}  // namespace base
