#include "agent/base/debug/demangle.h"

#include <cstring>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {
namespace {

struct Case {
  const char* mangled;
  const char* demangled;  // null: must fail
};

std::string DemangleToString(const char* mangled, size_t size = 1024) {
  char out[1024];
  memset(out, 'x', sizeof(out));
  if (!Demangle(mangled, out, size)) return "<failed>";
  return out;
}

TEST(DemangleTest, ShortForms) {
  const Case kCases[] = {
      // Plain and nested names; parameters and qualifiers not written.
      {"_Z1fv", "f()"},
      {"_Z3fooi", "foo()"},
      {"_ZN3foo3barEv", "foo::bar()"},
      {"_ZNK3foo3barEiPKc", "foo::bar()"},
      {"_ZN1a1b1cE", "a::b::c"},
      {"_ZL10StaticFuncv", "StaticFunc()"},
      // Templates: arguments parsed, "<>" written; no "<<".
      {"_Z1fIiEvT_", "f<>()"},
      {"_ZN3FooIiE3barIcEEvT_", "Foo<>::bar<>()"},
      {"_ZltI3FooEbRKT_S3_", "operator< <>()"},
      {"_ZNSt6vectorIiSaIiEE9push_backERKi", "std::vector<>::push_back()"},
      // Anonymous namespaces.
      {"_ZN12_GLOBAL__N_13fooEv", "(anonymous namespace)::foo()"},
      // Constructors and destructors repeat the class's last name.
      {"_ZN8kelmbase5debug10StackTraceC1Ev",
       "kelmbase::debug::StackTrace::StackTrace()"},
      {"_ZN3FooIiEC2Ev", "Foo<>::Foo()"},
      {"_ZN3FooD0Ev", "Foo::~Foo()"},
      {"_ZNSt6vectorIiSaIiEED2Ev", "std::vector<>::~vector()"},
      {"_ZNSsC1Ev", "std::string::string()"},
      {"_ZNSaIcED1Ev", "std::allocator<>::~allocator()"},
      // Standard abbreviations and back-references.
      {"_ZSt4cout", "std::cout"},
      {"_ZNSo5flushEv", "std::ostream::flush()"},
      {"_ZNSdD0Ev", "std::iostream::~iostream()"},
      {"_ZNS0_3fooEv", "?::foo()"},
      {"_ZNT_3fooEv", "?::foo()"},
      // Operators, with a blank before a symbol that is a word.
      {"_ZN3FooplERKS_", "Foo::operator+()"},
      {"_ZN3FooixEi", "Foo::operator[]()"},
      {"_ZN3FooclEv", "Foo::operator()()"},
      {"_Znwm", "operator new()"},
      {"_ZdaPv", "operator delete[]()"},
      {"_ZN3FoocviEv", "Foo::operator int()"},
      {"_ZNK3FoocvPKcEv", "Foo::operator char const*()"},
      {"_ZN3FoocvSsEv", "Foo::operator std::string()"},
      {"_Zli4_abcPKc", "operator\"\" _abc()"},
      // Special names write the entity only.
      {"_ZTV3Foo", "Foo"},
      {"_ZTI3Foo", "Foo"},
      {"_ZTS3Foo", "Foo"},
      {"_ZTT3Foo", "Foo"},
      {"_ZTIPKc", "char const*"},
      {"_ZTIi", "int"},
      {"_ZTIPFvvE", "void (*)()"},
      {"_ZTIFviE", "void ()"},
      {"_ZTIRFviE", "void (&)()"},
      {"_ZTIM3Fooi", "int Foo::*"},
      {"_ZTIM3FooKFvvE", "void (Foo::*)() const"},
      {"_ZTIA3_i", "int [3]"},
      // Function types keep their return type and write their qualifiers.
      {"_ZTSFbN4absl11string_viewEE", "bool ()"},
      {"_ZTIPFbvE", "bool (*)()"},
      {"_ZTIKFvvRE", "void () const &"},
      {"_ZTIrVKFvvE", "void () const volatile restrict"},
      {"_ZTIM3FooKFvvOE", "void (Foo::*)() const &&"},
      {"_ZNKSt15__exception_ptr13exception_ptrcvMS0_FvvEEv",
       "std::__exception_ptr::exception_ptr::operator void (?::*)()()"},
      {"_ZGVZ4mainvE1x", "main()::x"},
      {"_ZThn16_N3Foo3barEv", "Foo::bar()"},
      {"_ZTv0_n24_N3Foo3barEv", "Foo::bar()"},
      {"_ZTch0_h16_N3Foo3barEv", "Foo::bar()"},
      {"_ZTCSd0_Si", "std::iostream"},
      {"_ZGTtNKSt11logic_error4whatEv", "std::logic_error::what()"},
      {"_ZTW3tls", "tls"},
      // ABI tags are parsed and not written.
      {"_ZNSt8ios_base7failureB5cxx11C1EPKc",
       "std::ios_base::failure::failure()"},
      // Local names and string literals; discriminators skipped.
      {"_ZZ4mainvEN3Foo3barEv", "main()::Foo::bar()"},
      {"_ZZ4mainE1x_0", "main::x"},
      {"_ZZ4mainvE1x__12_", "main()::x"},
      {"_ZZ4mainvEs", "main()"},
      // The enclosing function of a local entity keeps its qualifiers, also
      // past parameters and template arguments with nested names of their
      // own; a string literal still ends with the parameter list.
      {"_ZZNK3Foo3getEvE1x", "Foo::get() const::x"},
      {"_ZZNVKR3Foo3getEvE1x", "Foo::get() const volatile &::x"},
      {"_ZZNO3Foo3getEvE1x_0", "Foo::get() &&::x"},
      {"_ZGVZNK3Foo3getEvE1x", "Foo::get() const::x"},
      {"_ZZNK3Foo3getERKN1a1bEE1x", "Foo::get() const::x"},
      {"_ZZN3Foo3getIXadL_ZNK1a1bEvEEEEvvE1x", "Foo::get<>()::x"},
      {"_ZZZNK3Foo3getEvENK3Bar3bazEvE1y",
       "Foo::get() const::Bar::baz() const::y"},
      {"_ZZNK3Foo3getEvEs", "Foo::get()"},
      // Types of every kind parse inside parameter lists.
      {"_Z1fPFviEPA10_iM3FooFvvEDpT_", "f()"},
      {"_Z1fRA_iOiCdGd", "f()"},
      {"_Z1fu6vendorDnDaDF16_z", "f()"},
      {"_Z1fU8__vectoriVKrPc", "f()"},
      {"_Z1fIJidEEvDpT_", "f<>()"},
      {"_Z1fILi5EEvv", "f<>()"},
      {"_Z1fILin5EEvv", "f<>()"},
      {"_Z1fIXadL_Z1gvEEEvv", "f<>()"},
      {"_Z1fIiEDTplfp_fp_ET_", "f<>()"},
      {"_Z1fIiEDtcl1gfp_EET_", "f<>()"},
      {"_Z1fIiEDTsrT_3fooEv", "f<>()"},
      {"_Z1fILb1EEvv", "f<>()"},
      {"_Z1fPFvvEDoFvvEDxFvvE", "f()"},
      {"_Z1fIiEvPAstT__i", "f<>()"},
      // A member of a named class template as GCC writes it in an
      // expression: sr and the type itself, std::is_const<T>::value.
      {"_Z1fIiEv1AIXsrSt8is_constIT_E5valueEE", "f<>()"},
      {"_Z1fIiEv1AIXsrNSt8is_constIT_EE5valueEE", "f<>()"},
      {"_ZN1A7PointerIiEEPNSt11conditionalIXsrSt8is_constIT_E5valueEKiiE4typeEv",
       "A::Pointer<>()"},
      // Clone suffixes are dropped, versions kept.
      {"_Z3foov.isra.0", "foo()"},
      {"_Z3foov.constprop.0.isra.1", "foo()"},
      {"_Z3foov@GLIBCXX_3.4", "foo()@GLIBCXX_3.4"},
      {"_Z3foov@@GLIBCXX_3.4.21", "foo()@@GLIBCXX_3.4.21"},
      // A zero length is an empty name.
      {"_Z0v", "()"},
      // Not accepted.
      {"_Z3foov.cold", nullptr},
      {"_Z3foov.", nullptr},
      {"_Z3foov.isra", nullptr},
      {"_Z3foovX", nullptr},
      {"_ZZ4mainENKUlvE_clEv", nullptr},  // closure
      {"_ZN3FooUt_E", nullptr},           // unnamed type
      {"_Zn3foov", nullptr},              // negative length
      {"_Z2147483648foov", nullptr},      // length past INT_MAX
      {"_Z99foo", nullptr},               // length past the end
      {"_Z", nullptr},
      {"", nullptr},
      {"foo", nullptr},
      {"_Y3foov", nullptr},
      {"_ZN3fooE3", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.mangled);
    EXPECT_EQ(DemangleToString(c.mangled),
              c.demangled ? c.demangled : "<failed>");
  }
}

// The result and its NUL must fit; one byte short fails.
TEST(DemangleTest, OutputMustFit) {
  const char kMangled[] = "_ZN3foo3barEv";  // foo::bar(): 10 + NUL
  EXPECT_EQ(DemangleToString(kMangled, 11), "foo::bar()");
  EXPECT_EQ(DemangleToString(kMangled, 10), "<failed>");
  EXPECT_EQ(DemangleToString(kMangled, 1), "<failed>");
  char out[1];
  EXPECT_FALSE(Demangle(kMangled, out, 0));
}

// Deep nesting and costly backtracking fail cleanly instead of overflowing
// the stack or running for ever.
TEST(DemangleTest, DepthAndWorkAreBounded) {
  // Pointer to pointer to ... to int, nested far past any real name.
  std::string deep = "_Z1f";
  deep.append(100000, 'P');
  deep += "i";
  EXPECT_EQ(DemangleToString(deep.c_str()), "<failed>");

  // Template argument lists inside each other.
  std::string nested = "_Z1f";
  for (int i = 0; i < 20000; ++i) nested += "1aI";
  nested += "i";
  nested.append(20000, 'E');
  nested += "v";
  EXPECT_EQ(DemangleToString(nested.c_str()), "<failed>");

  // Shallow, but each level of local names is parsed twice before the one
  // above it knows that it is not a function: 2^40 steps without the limit.
  std::string costly = "_Z";
  costly.append(40, 'Z');
  costly += "1a";
  for (int i = 0; i < 40; ++i) costly += "E1b";
  EXPECT_EQ(DemangleToString(costly.c_str()), "<failed>");
  // The same shape, a few levels deep, is a valid name.
  EXPECT_EQ(DemangleToString("_ZZZ1aE1bE1c"), "a::b::c");

  // What the crash printer sees: the name stays as it was.
  for (const std::string* name : {&deep, &costly}) {
    std::string text = *name;
    DemangleInPlace(text.data(), static_cast<int>(text.size()) + 1);
    EXPECT_EQ(text, *name);
  }

  // A realistic depth still works.
  std::string fine = "_Z1f";
  for (int i = 0; i < 30; ++i) fine += "P";
  fine += "iv";
  EXPECT_EQ(DemangleToString(fine.c_str()), "f()");
}

TEST(DemangleInPlaceTest, ReplacesOnlyWhenDemangledAndFitting) {
  char text[64] = "_ZN3foo3barEv";
  DemangleInPlace(text, sizeof(text));
  EXPECT_STREQ(text, "foo::bar()");

  // Not mangled: unchanged.
  char plain[64] = "main";
  DemangleInPlace(plain, sizeof(plain));
  EXPECT_STREQ(plain, "main");

  // The demangled text does not fit the caller's size: unchanged.
  char small[14] = "_ZN3foo3barEv";
  DemangleInPlace(small, 10);
  EXPECT_STREQ(small, "_ZN3foo3barEv");
}

// A name whose short form needs 256 characters or more stays mangled; 255
// characters fit the 256-byte buffer.
TEST(DemangleInPlaceTest, LongResultKeepsTheMangledName) {
  const std::string prefix = "_ZN120" + std::string(120, 'a') + "120" +
                             std::string(120, 'b');  // a...a::b...b::
  const struct {
    const char* last;  // last component, with its length
    size_t demangled_length;
    bool replaced;
  } kCases[] = {
      {"9abcdefghi", 255, true},
      {"10abcdefghij", 256, false},
      {"13abcdefghijklm", 259, false},
  };
  for (const auto& c : kCases) {
    const std::string mangled = prefix + c.last + "Ev";
    SCOPED_TRACE(c.last);
    char buffer[1024];
    ASSERT_TRUE(Demangle(mangled.c_str(), buffer, sizeof(buffer)));
    ASSERT_EQ(strlen(buffer), c.demangled_length);
    char text[1024];
    strcpy(text, mangled.c_str());
    DemangleInPlace(text, sizeof(text));
    EXPECT_EQ(std::string(text), c.replaced ? std::string(buffer) : mangled);
  }
}

}  // namespace
}  // namespace debug
}  // namespace kelmbase
