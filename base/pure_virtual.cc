// Kept apart from other code: the runtime's headers declare this handler
// without the argument it is given here.

#include "base/init_plovex.h"

extern "C" [[noreturn]] void __cxa_bad_typeid();

// Replaces the runtime's handler. A virtual call passes the object first, so
// the handler sees it as its argument even though the runtime declares none;
// its vtable's type-information slot names the class being constructed or
// destroyed.
extern "C" [[noreturn]] void __cxa_pure_virtual(const void* self) {
  if (self == nullptr) __cxa_bad_typeid();
  const void* const* vtable = *static_cast<const void* const* const*>(self);
  base::ReportPureVirtualCall(vtable[-1]);
}
