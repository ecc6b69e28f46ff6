// Built with -fno-rtti: the vtables here carry no type information.

#include "base/pure_virtual_unittest_helper.h"

namespace base {
namespace untyped {

class Untyped {
 public:
  Untyped() { Start(); }
  virtual ~Untyped() = default;
  virtual void Run() = 0;

 private:
  [[gnu::noinline]] void Start() { Run(); }
};

class UntypedImpl : public Untyped {
 public:
  void Run() override {}
};

}  // namespace untyped

void CallPureVirtualWithoutTypeInformation() { untyped::UntypedImpl impl; }

}  // namespace base
