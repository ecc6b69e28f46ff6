#ifndef AGENT_BASE_DEBUG_DEMANGLE_H_
#define AGENT_BASE_DEBUG_DEMANGLE_H_

#include <cstddef>

namespace kelmbase {
namespace debug {

// Turns a name mangled by the Itanium C++ ABI into a short readable form,
// written into a caller's fixed buffer. It exists for the crash printer: it
// allocates nothing, takes no lock, keeps its state on the stack, bounds its
// recursion depth and its total work, and so may run in a signal handler on
// any thread.
//
// The short form names the entity and leaves out what a crash report does
// not need:
//   _Z1fv                          -> f()
//   _ZN3foo3barEi                  -> foo::bar()        (parameters not written)
//   _Z1fIiEvT_                     -> f<>()             (template arguments not written)
//   _ZN12_GLOBAL__N_13fooEv        -> (anonymous namespace)::foo()
//   _ZN3FooC1Ev                    -> Foo::Foo()
//   _ZNSt6vectorIiSaIiEED2Ev       -> std::vector<>::~vector()
//   _ZTV3Foo                       -> Foo               (special names: the entity only)
//   _ZNK3Foo3getEv.constprop.0     -> Foo::get()        (clone suffixes dropped)
//   _ZZNK3Foo3getEvE5cache         -> Foo::get() const::cache
//                                     (an enclosing function keeps its qualifiers)
//   _ZTIFbvE                       -> bool ()           (a function type)
//   _Z3foov@GLIBC_2.2.5            -> foo()@GLIBC_2.2.5 (versions kept)
// Back-references and template parameters in a written name print as "?",
// the standard abbreviations as "std::allocator", "std::string" and so on,
// built-in types by their names ("ellipsis" for ...).
//
// Not accepted: closure (lambda) and unnamed-type names, default-argument
// scopes, structured bindings; a clone suffix that is not a period, letters,
// a period and digits (".cold" alone fails); any other trailing text.
//
// Demangles `mangled` into `out` (`out_size` bytes, NUL included). Returns
// false when the name is not accepted, when the text does not fit, or when
// the name is too deeply nested or too costly to parse (a crafted name must
// not exhaust a signal handler's stack); `out` is then unspecified.
bool Demangle(const char* mangled, char* out, size_t out_size);

// Replaces the NUL-terminated `text` (in a buffer of `size` bytes) with its
// demangled form when that succeeds into a 256-byte buffer and fits into
// `size` bytes; otherwise leaves `text` as it was, so the mangled name is
// what gets printed.
void DemangleInPlace(char* text, int size);

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_DEMANGLE_H_
