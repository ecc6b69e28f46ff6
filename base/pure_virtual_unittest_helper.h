#ifndef BASE_PURE_VIRTUAL_UNITTEST_HELPER_H_
#define BASE_PURE_VIRTUAL_UNITTEST_HELPER_H_

namespace base {

// Constructs an object of a class built without type information whose base
// constructor calls a pure virtual function.
void CallPureVirtualWithoutTypeInformation();

}  // namespace base

#endif  // BASE_PURE_VIRTUAL_UNITTEST_HELPER_H_
