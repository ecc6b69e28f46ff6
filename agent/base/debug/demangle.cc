#include "agent/base/debug/demangle.h"

#include <climits>
#include <cstring>

// A recursive-descent parser over the Itanium C++ ABI mangling grammar.
// Every alternative that fails puts the parse state back as it found it, so
// callers can simply try the next alternative. Output is appended only while
// `append` is on: parameter types, template arguments and expressions are
// parsed with it off and summarised as "()" and "<>".

namespace kelmbase {
namespace debug {
namespace {

// The deepest name in our binaries and the C++ runtime needs 42 levels and
// the costliest about 1,200 steps. The limits leave room for names three
// times as deep and fifty times as costly, while a crafted name stays within
// a few kilobytes of a signal handler's stack (about 100 bytes a level) and
// a bounded time, however much backtracking it provokes.
constexpr int kMaxDepth = 128;
constexpr int kMaxSteps = 1 << 16;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsAlpha(char c) { return IsLower(c) || IsUpper(c); }

struct OperatorInfo {
  const char code[3];
  const char* symbol;
  int arity;  // operands in an expression
};

// The ABI's operator table. Codes that only occur in expressions (sizeof and
// friends) are parsed separately.
constexpr OperatorInfo kOperators[] = {
    {"nw", "new", 3},     {"na", "new[]", 3},   {"dl", "delete", 1},
    {"da", "delete[]", 1}, {"aw", "co_await", 1}, {"ps", "+", 1},
    {"ng", "-", 1},       {"ad", "&", 1},       {"de", "*", 1},
    {"co", "~", 1},       {"pl", "+", 2},       {"mi", "-", 2},
    {"ml", "*", 2},       {"dv", "/", 2},       {"rm", "%", 2},
    {"an", "&", 2},       {"or", "|", 2},       {"eo", "^", 2},
    {"aS", "=", 2},       {"pL", "+=", 2},      {"mI", "-=", 2},
    {"mL", "*=", 2},      {"dV", "/=", 2},      {"rM", "%=", 2},
    {"aN", "&=", 2},      {"oR", "|=", 2},      {"eO", "^=", 2},
    {"ls", "<<", 2},      {"rs", ">>", 2},      {"lS", "<<=", 2},
    {"rS", ">>=", 2},     {"ss", "<=>", 2},     {"eq", "==", 2},
    {"ne", "!=", 2},      {"lt", "<", 2},       {"gt", ">", 2},
    {"le", "<=", 2},      {"ge", ">=", 2},      {"nt", "!", 1},
    {"aa", "&&", 2},      {"oo", "||", 2},      {"pp", "++", 1},
    {"mm", "--", 1},      {"cm", ",", 2},       {"pm", "->*", 2},
    {"pt", "->", 2},      {"cl", "()", 2},      {"ix", "[]", 2},
    {"qu", "?", 3},
};

const OperatorInfo* FindOperator(const char* code) {
  for (const OperatorInfo& op : kOperators) {
    if (code[0] == op.code[0] && code[0] != '\0' && code[1] == op.code[1]) {
      return &op;
    }
  }
  return nullptr;
}

struct BuiltinType {
  char code;
  const char* name;
};

constexpr BuiltinType kBuiltinTypes[] = {
    {'v', "void"},          {'w', "wchar_t"},
    {'b', "bool"},          {'c', "char"},
    {'a', "signed char"},   {'h', "unsigned char"},
    {'s', "short"},         {'t', "unsigned short"},
    {'i', "int"},           {'j', "unsigned int"},
    {'l', "long"},          {'m', "unsigned long"},
    {'x', "long long"},     {'y', "unsigned long long"},
    {'n', "__int128"},      {'o', "unsigned __int128"},
    {'f', "float"},         {'d', "double"},
    {'e', "long double"},   {'g', "__float128"},
    {'z', "ellipsis"},
};

// Built-in types whose code is "D" and one more character.
constexpr BuiltinType kDBuiltinTypes[] = {
    {'d', "decimal64"},      {'e', "decimal128"}, {'f', "decimal32"},
    {'h', "half"},           {'i', "char32_t"},   {'s', "char16_t"},
    {'u', "char8_t"},        {'a', "auto"},       {'c', "decltype(auto)"},
    {'n', "decltype(nullptr)"},
};

struct Abbreviation {
  char code;
  const char* name;  // after "std::"
};

constexpr Abbreviation kAbbreviations[] = {
    {'a', "allocator"}, {'b', "basic_string"}, {'s', "string"},
    {'i', "istream"},   {'o', "ostream"},      {'d', "iostream"},
};

// The qualifiers of a member function: cv as bits (restrict 1, volatile 2,
// const 4) and the ref-qualifier's character, R or O, or NUL for none.
struct MemberQualifiers {
  int cv = 0;
  char ref = '\0';
};

// Everything a failed alternative has to put back.
struct ParseState {
  const char* in;
  int out;
  int prev_name_start;
  int prev_name_length;
  bool append;
};

class Demangler {
 public:
  Demangler(const char* mangled, char* out, size_t out_size)
      : out_(out),
        out_size_(out_size > INT_MAX ? INT_MAX : static_cast<int>(out_size)) {
    state_.in = mangled;
    state_.out = 0;
    state_.prev_name_start = 0;
    state_.prev_name_length = 0;
    state_.append = true;
  }

  bool Run();

 private:
  // Counts one parse step and one level of depth for its scope. Once a
  // limit is passed, or the output has overflowed, every step fails, so the
  // parse unwinds at once.
  class Step {
   public:
    explicit Step(Demangler* d) : d_(d) {
      ++d_->depth_;
      ++d_->steps_;
      if (d_->depth_ > kMaxDepth || d_->steps_ > kMaxSteps) {
        d_->too_complex_ = true;
      }
    }
    ~Step() { --d_->depth_; }
    bool Stop() const { return d_->too_complex_ || d_->overflowed_; }

   private:
    Demangler* const d_;
  };

  bool ParseChar(char c) {
    if (*state_.in != c || c == '\0') return false;
    ++state_.in;
    return true;
  }
  bool ParseTwoChars(const char* two) {
    if (state_.in[0] != two[0] || state_.in[0] == '\0' ||
        state_.in[1] != two[1]) {
      return false;
    }
    state_.in += 2;
    return true;
  }
  bool ParseCharIn(const char* set, char* which) {
    const char c = *state_.in;
    if (c == '\0' || strchr(set, c) == nullptr) return false;
    if (which != nullptr) *which = c;
    ++state_.in;
    return true;
  }

  void Append(const char* text, int length);
  void Append(const char* text) { Append(text, static_cast<int>(strlen(text))); }
  bool AppendRaw(const char* text, int length);
  bool SetAppend(bool on) {
    const bool old = state_.append;
    state_.append = on;
    return old;
  }

  bool ParseTrailer();
  bool ParseMangledName();
  bool ParseEncoding();
  bool ParseName();
  bool ParseUnscopedName();
  bool ParseUnscopedTemplateName();
  bool ParseNestedName();
  bool ParsePrefixComponents();
  bool ParseUnqualifiedName();
  bool ParseSourceName();
  bool ParseLocalSourceName();
  bool ParseNumber(int* value);
  bool ParseNonNegativeNumber(int* value);
  bool ParseSeqId();
  bool ParseIdentifier(int length);
  bool ParseAbiTags();
  bool ParseOperatorName();
  bool ParseCtorDtorName();
  bool ParseSpecialName();
  bool ParseCallOffset();
  bool ParseCVQualifiers(int* which);
  bool ParseRefQualifier();
  bool ParseType();
  bool ParseQualifiedType();
  bool ParseModifiedType();
  bool ParseBuiltinType();
  bool ParseFunctionType();
  bool ParseWrittenFunctionType(const char* declarator, const char* class_type);
  bool FunctionTypeAhead() const;
  void AppendFunctionQualifiers(int qualifiers, char ref);
  bool WriteTypeAt(const char* mangled_type);
  bool ParseExceptionSpec();
  bool ParseBareFunctionType();
  bool ParseClassEnumType();
  bool ParseArrayType();
  bool ParsePointerToMemberType();
  bool ParseTemplateParam();
  bool ParseTemplateArgs();
  bool ParseTemplateArg();
  bool ParseDecltype();
  bool ParseSubstitution();
  bool ParseExpression();
  bool ParseExpressionBody();
  bool ParseExpressions(int count);
  bool ParseExpressionsUntilEnd();
  bool ParseBracedExpression();
  bool ParseInitializer();
  bool ParseExprPrimary();
  bool ParseFunctionParam();
  bool ParseUnresolvedName();
  bool ParseUnresolvedType();
  bool ParseSimpleId();
  bool ParseBaseUnresolvedName();
  bool ParseLocalName();
  bool ParseDiscriminator();

  char* const out_;
  const int out_size_;
  ParseState state_;
  bool overflowed_ = false;
  bool too_complex_ = false;
  // The qualifiers of the last name that ParseName accepted, for the local
  // name that encloses it. Set on success only, so backtracking need not
  // restore it.
  MemberQualifiers name_qualifiers_;
  int depth_ = 0;
  int steps_ = 0;
};

bool Demangler::AppendRaw(const char* text, int length) {
  // One byte stays free for the NUL.
  if (length > out_size_ - 1 - state_.out) {
    overflowed_ = true;
    return false;
  }
  // `text` may lie in `out_` itself (a constructor repeats its class name).
  memmove(out_ + state_.out, text, static_cast<size_t>(length));
  state_.out += length;
  return true;
}

void Demangler::Append(const char* text, int length) {
  if (!state_.append || length <= 0 || overflowed_) return;
  // "<<" would read as a shift operator.
  if (text[0] == '<' && state_.out > 0 && out_[state_.out - 1] == '<') {
    if (!AppendRaw(" ", 1)) return;
  }
  const bool is_name = IsAlpha(text[0]) || text[0] == '_';
  const int start = state_.out;
  if (!AppendRaw(text, length)) return;
  if (is_name) {
    state_.prev_name_start = start;
    state_.prev_name_length = length;
  }
}

bool Demangler::Run() {
  if (out_size_ <= 0) return false;
  out_[0] = '\0';
  if (!ParseMangledName() || !ParseTrailer()) return false;
  if (overflowed_ || too_complex_) return false;
  out_[state_.out] = '\0';
  return true;
}

// After the encoding: nothing, one or more clone suffixes (".isra.0",
// ".constprop.1.part.2"), which are dropped, or a symbol version ("@...",
// "@@..."), which is kept.
bool Demangler::ParseTrailer() {
  const char* p = state_.in;
  if (*p == '\0') return true;
  if (*p == '@') {
    Append(p);
    state_.in = p + strlen(p);
    return true;
  }
  bool any = false;
  while (*p == '.') {
    const char* letters = ++p;
    while (IsAlpha(*p)) ++p;
    if (p == letters || *p != '.') return false;
    const char* digits = ++p;
    while (IsDigit(*p)) ++p;
    if (p == digits) return false;
    any = true;
  }
  state_.in = p;
  return any && *p == '\0';
}

bool Demangler::ParseMangledName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseTwoChars("_Z") && ParseEncoding()) return true;
  state_ = copy;
  return false;
}

// <encoding> ::= <name> <bare-function-type> | <name> | <special-name>
bool Demangler::ParseEncoding() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseName()) {
    // The parameter types may hold nested names of their own.
    const MemberQualifiers qualifiers = name_qualifiers_;
    if (ParseBareFunctionType()) {
      name_qualifiers_ = qualifiers;
      return true;
    }
  }
  state_ = copy;
  if (ParseName() || ParseSpecialName()) return true;
  state_ = copy;
  return false;
}

// <name> ::= <nested-name> | <local-name>
//        ::= <unscoped-template-name> <template-args> | <unscoped-name>
bool Demangler::ParseName() {
  Step step(this);
  if (step.Stop()) return false;
  // A nested name records its own qualifiers; a local name those of its
  // entity.
  if (ParseNestedName() || ParseLocalName()) return true;
  const ParseState copy = state_;
  if (ParseUnscopedTemplateName() && ParseTemplateArgs()) {
    name_qualifiers_ = MemberQualifiers();
    return true;
  }
  state_ = copy;
  if (ParseUnscopedName()) {
    name_qualifiers_ = MemberQualifiers();
    return true;
  }
  state_ = copy;
  return false;
}

// <unscoped-name> ::= <unqualified-name> | St <unqualified-name>
bool Demangler::ParseUnscopedName() {
  Step step(this);
  if (step.Stop()) return false;
  if (ParseUnqualifiedName()) return true;
  const ParseState copy = state_;
  if (ParseTwoChars("St")) {
    Append("std");
    Append("::");
    if (ParseUnqualifiedName()) return true;
  }
  state_ = copy;
  return false;
}

bool Demangler::ParseUnscopedTemplateName() {
  return ParseUnscopedName() || ParseSubstitution();
}

// <nested-name> ::= N [<CV-qualifiers>] [<ref-qualifier>] <prefix> E
bool Demangler::ParseNestedName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseChar('N')) {
    // The qualifiers of a member function are not written here; a local
    // name writes them after its enclosing function.
    MemberQualifiers qualifiers;
    ParseCVQualifiers(&qualifiers.cv);
    qualifiers.ref = *state_.in;
    if (!ParseRefQualifier()) qualifiers.ref = '\0';
    if (ParsePrefixComponents() && ParseChar('E')) {
      name_qualifiers_ = qualifiers;
      return true;
    }
  }
  state_ = copy;
  return false;
}

// The components of a nested name, joined with "::": a first component that
// may be a template parameter, a decltype or a substitution, then
// unqualified names, each optionally followed by template arguments.
bool Demangler::ParsePrefixComponents() {
  Step step(this);
  if (step.Stop()) return false;
  int components = 0;
  bool after_template_args = false;
  for (;;) {
    const ParseState copy = state_;
    if (components > 0 && !after_template_args && ParseTemplateArgs()) {
      after_template_args = true;
      continue;
    }
    state_ = copy;
    if (components > 0) Append("::");
    bool ok;
    if (components == 0) {
      ok = ParseTemplateParam() || ParseDecltype() || ParseSubstitution() ||
           ParseUnqualifiedName();
    } else {
      ok = ParseUnqualifiedName();
    }
    if (!ok) {
      state_ = copy;
      break;
    }
    ++components;
    after_template_args = false;
    if (step.Stop()) return false;
  }
  return components > 0;
}

// <unqualified-name> ::= <operator-name> | <ctor-dtor-name> | <source-name>
//                    ::= L <source-name> [<discriminator>]   (internal linkage)
// each optionally followed by ABI tags. Unnamed types (Ut) and closures (Ul)
// are not accepted.
bool Demangler::ParseUnqualifiedName() {
  Step step(this);
  if (step.Stop()) return false;
  const char c = state_.in[0];
  bool ok = false;
  if (IsDigit(c)) {
    ok = ParseSourceName();
  } else if (c == 'C' || c == 'D') {
    ok = ParseCtorDtorName();
  } else if (c == 'L') {
    ok = ParseLocalSourceName();
  } else if (IsLower(c)) {
    ok = ParseOperatorName();
  }
  if (!ok) return false;
  if (state_.in[0] == 'B') ParseAbiTags();
  return true;
}

// <source-name> ::= <positive length number> <identifier>
bool Demangler::ParseSourceName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  int length = -1;
  if (IsDigit(*state_.in) && ParseNumber(&length) && length >= 0 &&
      ParseIdentifier(length)) {
    return true;
  }
  state_ = copy;
  return false;
}

bool Demangler::ParseLocalSourceName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseChar('L') && ParseSourceName()) {
    ParseDiscriminator();
    return true;
  }
  state_ = copy;
  return false;
}

// <number> ::= [n] <decimal digits>. A value past INT_MAX fails rather than
// wrapping to a negative one.
bool Demangler::ParseNumber(int* value) {
  const char* p = state_.in;
  bool negative = false;
  if (*p == 'n') {
    negative = true;
    ++p;
  }
  const char* digits = p;
  int result = 0;
  while (IsDigit(*p)) {
    const int digit = *p - '0';
    if (result > (INT_MAX - digit) / 10) return false;
    result = result * 10 + digit;
    ++p;
  }
  if (p == digits) return false;
  state_.in = p;
  if (value != nullptr) *value = negative ? -result : result;
  return true;
}

bool Demangler::ParseNonNegativeNumber(int* value) {
  const ParseState copy = state_;
  int v = -1;
  if (IsDigit(*state_.in) && ParseNumber(&v) && v >= 0) {
    if (value != nullptr) *value = v;
    return true;
  }
  state_ = copy;
  return false;
}

// <seq-id>: digits and upper-case letters, base 36.
bool Demangler::ParseSeqId() {
  const char* p = state_.in;
  while (IsDigit(*p) || IsUpper(*p)) ++p;
  if (p == state_.in) return false;
  state_.in = p;
  return true;
}

bool Demangler::ParseIdentifier(int length) {
  // All `length` bytes must be there, without a NUL among them.
  if (strnlen(state_.in, static_cast<size_t>(length)) <
      static_cast<size_t>(length)) {
    return false;
  }
  static const char kAnonymousPrefix[] = "_GLOBAL__N_";
  const int prefix_length = static_cast<int>(sizeof(kAnonymousPrefix)) - 1;
  if (length >= prefix_length &&
      memcmp(state_.in, kAnonymousPrefix, prefix_length) == 0) {
    Append("(anonymous namespace)");
  } else {
    Append(state_.in, length);
  }
  state_.in += length;
  return true;
}

// <abi-tags> ::= (B <source-name>)*, parsed and not written.
bool Demangler::ParseAbiTags() {
  const bool old_append = SetAppend(false);
  bool any = false;
  for (;;) {
    const ParseState copy = state_;
    if (ParseChar('B') && ParseSourceName()) {
      any = true;
      continue;
    }
    state_ = copy;
    break;
  }
  SetAppend(old_append);
  return any;
}

// <operator-name> ::= <two-letter code> | cv <type> | li <source-name>
//                 ::= v <digit> <source-name>
bool Demangler::ParseOperatorName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (!IsLower(state_.in[0]) || !IsAlpha(state_.in[1])) return false;
  if (ParseTwoChars("cv")) {
    Append("operator ");
    if (ParseType()) return true;
    state_ = copy;
    return false;
  }
  if (ParseTwoChars("li")) {
    Append("operator\"\" ");
    if (ParseSourceName()) return true;
    state_ = copy;
    return false;
  }
  if (state_.in[0] == 'v' && IsDigit(state_.in[1])) {
    state_.in += 2;
    Append("operator ");
    if (ParseSourceName()) return true;
    state_ = copy;
    return false;
  }
  const OperatorInfo* op = FindOperator(state_.in);
  if (op == nullptr) return false;
  state_.in += 2;
  Append("operator");
  if (IsLower(op->symbol[0])) Append(" ");
  Append(op->symbol);
  return true;
}

// <ctor-dtor-name> ::= C1 | C2 | C3 | D0 | D1 | D2: the class's own name,
// remembered from the last name written.
bool Demangler::ParseCtorDtorName() {
  const char c0 = state_.in[0];
  if (c0 != 'C' && c0 != 'D') return false;
  const char c1 = state_.in[1];
  if (c0 == 'C' && (c1 < '1' || c1 > '3')) return false;
  if (c0 == 'D' && (c1 < '0' || c1 > '2')) return false;
  state_.in += 2;
  if (c0 == 'D') Append("~");
  if (state_.prev_name_length > 0) {
    Append(out_ + state_.prev_name_start, state_.prev_name_length);
  }
  return true;
}

// <special-name>: virtual tables, type information, guard variables,
// thunks and the like write the entity they refer to.
bool Demangler::ParseSpecialName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseTwoChars("TV") || ParseTwoChars("TT") || ParseTwoChars("TI") ||
      ParseTwoChars("TS")) {
    if (ParseType()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("TH") || ParseTwoChars("TW")) {
    if (ParseName()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("Tc")) {
    if (ParseCallOffset() && ParseCallOffset() && ParseEncoding()) return true;
  }
  state_ = copy;
  if (ParseChar('T')) {
    if (ParseCallOffset() && ParseEncoding()) return true;
  }
  state_ = copy;
  // Construction virtual table: the complete class, its offset, the base.
  if (ParseTwoChars("TC")) {
    if (ParseType() && ParseNumber(nullptr) && ParseChar('_')) {
      const bool old_append = SetAppend(false);
      const bool ok = ParseType();
      SetAppend(old_append);
      if (ok) return true;
    }
  }
  state_ = copy;
  if (ParseTwoChars("GV")) {
    if (ParseName()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("GR")) {
    if (ParseName()) {
      ParseSeqId();
      if (ParseChar('_')) return true;
    }
  }
  state_ = copy;
  if (ParseTwoChars("GT")) {
    if (ParseCharIn("nt", nullptr) && ParseEncoding()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("GA")) {
    if (ParseEncoding()) return true;
  }
  state_ = copy;
  return false;
}

// <call-offset> ::= h <number> _ | v <number> _ <number> _
bool Demangler::ParseCallOffset() {
  const ParseState copy = state_;
  if (ParseChar('h') && ParseNumber(nullptr) && ParseChar('_')) return true;
  state_ = copy;
  if (ParseChar('v') && ParseNumber(nullptr) && ParseChar('_') &&
      ParseNumber(nullptr) && ParseChar('_')) {
    return true;
  }
  state_ = copy;
  return false;
}

// <CV-qualifiers> ::= [r] [V] [K]; `which` receives them as bits 1, 2, 4.
bool Demangler::ParseCVQualifiers(int* which) {
  int bits = 0;
  if (ParseChar('r')) bits |= 1;
  if (ParseChar('V')) bits |= 2;
  if (ParseChar('K')) bits |= 4;
  if (which != nullptr) *which = bits;
  return bits != 0;
}

bool Demangler::ParseRefQualifier() {
  return ParseChar('R') || ParseChar('O');
}

// <type>. Where a type is written (a conversion operator, the entity of a
// special name) qualifiers, pointers and references follow it as in C++:
// "char const*".
bool Demangler::ParseType() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  // The first character decides which alternatives can apply; trying only
  // those keeps the common case cheap.
  const char c = state_.in[0];
  switch (c) {
    case 'r':
    case 'V':
    case 'K':
    case 'U':
      if (ParseQualifiedType()) return true;
      state_ = copy;
      return ParseFunctionType();
    case 'P':
    case 'R':
    case 'O':
    case 'C':
    case 'G':
      return ParseModifiedType();
    case 'F':
      return ParseFunctionType();
    case 'A':
      return ParseArrayType();
    case 'M':
      return ParsePointerToMemberType();
    case 'T':
      if (state_.in[1] == 's' || state_.in[1] == 'u' || state_.in[1] == 'e') {
        return ParseClassEnumType();
      }
      // A template parameter, or a template template parameter with its
      // arguments.
      if (!ParseTemplateParam()) return false;
      ParseTemplateArgs();
      return true;
    case 'S':
      if (state_.in[1] == 't') return ParseClassEnumType();
      // A substitution, or a substituted template with its arguments.
      if (!ParseSubstitution()) return false;
      ParseTemplateArgs();
      return true;
    case 'D':
      switch (state_.in[1]) {
        case 'p':  // A pack expansion.
          state_.in += 2;
          if (ParseType()) return true;
          state_ = copy;
          return false;
        case 't':
        case 'T':
          return ParseDecltype();
        case 'o':
        case 'O':
        case 'w':
        case 'x':
          return ParseFunctionType();
        default:
          return ParseBuiltinType();
      }
    case 'N':
    case 'Z':
      return ParseClassEnumType();
    default:
      if (IsDigit(c)) return ParseClassEnumType();
      return ParseBuiltinType();
  }
}

// P, R, O, C or G and the type they modify.
bool Demangler::ParseModifiedType() {
  static const struct {
    char code;
    const char* suffix;
  } kModifiers[] = {
      {'P', "*"}, {'R', "&"}, {'O', "&&"}, {'C', " _Complex"},
      {'G', " _Imaginary"},
  };
  const ParseState copy = state_;
  for (const auto& modifier : kModifiers) {
    if (!ParseChar(modifier.code)) continue;
    // A written pointer or reference to a function: "void (*)()".
    if (state_.append && modifier.code != 'C' && modifier.code != 'G' &&
        FunctionTypeAhead()) {
      if (ParseWrittenFunctionType(modifier.suffix, nullptr)) return true;
      state_ = copy;
      return false;
    }
    if (ParseType()) {
      Append(modifier.suffix);
      return true;
    }
    state_ = copy;
    return false;
  }
  return false;
}

// <qualified-type> ::= <extended-qualifier>* <CV-qualifiers> <type>, with
// <extended-qualifier> ::= U <source-name> [<template-args>].
bool Demangler::ParseQualifiedType() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  bool any = false;
  for (;;) {
    const ParseState before = state_;
    const bool old_append = SetAppend(false);
    bool vendor = ParseChar('U') && ParseSourceName();
    if (vendor) ParseTemplateArgs();
    SetAppend(old_append);
    if (!vendor) {
      state_ = before;
      break;
    }
    any = true;
  }
  int bits = 0;
  if (ParseCVQualifiers(&bits)) any = true;
  // A function type carries its own qualifiers.
  if (any && *state_.in != 'F' && ParseType()) {
    if (bits & 4) Append(" const");
    if (bits & 2) Append(" volatile");
    if (bits & 1) Append(" restrict");
    return true;
  }
  state_ = copy;
  return false;
}

bool Demangler::ParseBuiltinType() {
  const char c = state_.in[0];
  for (const BuiltinType& t : kBuiltinTypes) {
    if (c == t.code) {
      ++state_.in;
      Append(t.name);
      return true;
    }
  }
  if (c == 'u') {
    const ParseState copy = state_;
    ++state_.in;
    if (ParseSourceName()) {
      ParseTemplateArgs();
      return true;
    }
    state_ = copy;
    return false;
  }
  if (c != 'D') return false;
  const char c1 = state_.in[1];
  for (const BuiltinType& t : kDBuiltinTypes) {
    if (c1 == t.code) {
      state_.in += 2;
      Append(t.name);
      return true;
    }
  }
  // DF <number> _: _FloatN.
  if (c1 == 'F') {
    const ParseState copy = state_;
    state_.in += 2;
    const char* digits = state_.in;
    if (ParseNonNegativeNumber(nullptr) && ParseChar('_')) {
      Append("_Float");
      Append(digits, static_cast<int>(state_.in - 1 - digits));
      return true;
    }
    state_ = copy;
  }
  return false;
}

// <function-type> ::= [<CV-qualifiers>] [<exception-spec>] [Dx] F [Y]
//                     <bare-function-type> [<ref-qualifier>] E
// Written (as the target of a conversion operator or the entity of a
// special name) it reads "<return type> ()".
bool Demangler::ParseFunctionType() {
  Step step(this);
  if (step.Stop()) return false;
  if (state_.append) {
    return FunctionTypeAhead() && ParseWrittenFunctionType(nullptr, nullptr);
  }
  const ParseState copy = state_;
  ParseCVQualifiers(nullptr);
  ParseExceptionSpec();
  ParseTwoChars("Dx");
  bool ok = ParseChar('F');
  if (ok) {
    ParseChar('Y');
    ok = ParseBareFunctionType();
  }
  if (ok) {
    ParseRefQualifier();
    ok = ParseChar('E');
  }
  if (ok) return true;
  state_ = copy;
  return false;
}

// Whether a function type starts here: qualifiers and exception
// specifications may come before its F.
bool Demangler::FunctionTypeAhead() const {
  const char* p = state_.in;
  while (*p == 'r' || *p == 'V' || *p == 'K') ++p;
  return *p == 'F' || (p[0] == 'D' && (p[1] == 'o' || p[1] == 'O' ||
                                       p[1] == 'w' || p[1] == 'x'));
}

// Writes the type mangled at `mangled_type` again, leaving the input where
// it is; the declarator of a pointer to member names its class after the
// member's return type although the mangling gives the class first.
bool Demangler::WriteTypeAt(const char* mangled_type) {
  const char* const resume = state_.in;
  state_.in = mangled_type;
  const bool ok = ParseType();
  state_.in = resume;
  return ok;
}

// A function type with its return type written, then the declarator in
// parentheses ("*", "&", "&&", or `class_type`'s name and "::*"), then the
// parameter list as "()": "void (Foo::*)()".
bool Demangler::ParseWrittenFunctionType(const char* declarator,
                                         const char* class_type) {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  int qualifiers = 0;
  ParseCVQualifiers(&qualifiers);
  const bool old_append = SetAppend(false);
  ParseExceptionSpec();
  ParseTwoChars("Dx");
  SetAppend(old_append);
  if (!ParseChar('F')) {
    state_ = copy;
    return false;
  }
  ParseChar('Y');
  if (!ParseType()) {
    state_ = copy;
    return false;
  }
  if (declarator != nullptr || class_type != nullptr) {
    Append(" (");
    if (class_type != nullptr) {
      if (!WriteTypeAt(class_type)) {
        state_ = copy;
        return false;
      }
      Append("::*");
    } else {
      Append(declarator);
    }
    Append(")");
  } else {
    Append(" ");
  }
  SetAppend(false);
  while (ParseType()) {
  }
  SetAppend(old_append);
  Append("()");
  const char ref = *state_.in;
  ParseRefQualifier();
  if (!ParseChar('E')) {
    state_ = copy;
    return false;
  }
  AppendFunctionQualifiers(qualifiers, ref);
  return true;
}

// Writes the qualifiers of a function type or member function, in the
// order C++ spells them: " const volatile restrict", then " &" or " &&".
// `ref` is the character of the ref-qualifier (R or O), any other for none.
void Demangler::AppendFunctionQualifiers(int qualifiers, char ref) {
  if (qualifiers & 4) Append(" const");
  if (qualifiers & 2) Append(" volatile");
  if (qualifiers & 1) Append(" restrict");
  if (ref == 'R') Append(" &");
  if (ref == 'O') Append(" &&");
}

// <exception-spec> ::= Do | DO <expression> E | Dw <type>+ E
bool Demangler::ParseExceptionSpec() {
  const ParseState copy = state_;
  if (ParseTwoChars("Do")) return true;
  if (ParseTwoChars("DO")) {
    if (ParseExpression() && ParseChar('E')) return true;
  }
  state_ = copy;
  if (ParseTwoChars("Dw")) {
    int types = 0;
    while (ParseType()) ++types;
    if (types > 0 && ParseChar('E')) return true;
  }
  state_ = copy;
  return false;
}

// <bare-function-type> ::= <type>+, written as "()".
bool Demangler::ParseBareFunctionType() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  const bool old_append = SetAppend(false);
  int types = 0;
  while (ParseType()) ++types;
  SetAppend(old_append);
  if (types == 0 || step.Stop()) {
    state_ = copy;
    return false;
  }
  Append("()");
  return true;
}

// <class-enum-type> ::= [Ts | Tu | Te] <name>
bool Demangler::ParseClassEnumType() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseTwoChars("Ts") || ParseTwoChars("Tu") || ParseTwoChars("Te")) {
    if (ParseName()) return true;
    state_ = copy;
    return false;
  }
  return ParseName();
}

// <array-type> ::= A [<dimension number> | <expression>] _ <element type>
// Written: "int [3]".
bool Demangler::ParseArrayType() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (!ParseChar('A')) return false;
  const char* dimension = state_.in;
  int dimension_length = 0;
  const bool old_append = SetAppend(false);
  if (ParseNonNegativeNumber(nullptr)) {
    dimension_length = static_cast<int>(state_.in - dimension);
  } else {
    ParseExpression();
  }
  SetAppend(old_append);
  if (ParseChar('_') && ParseType()) {
    Append(" [");
    Append(dimension, dimension_length);
    Append("]");
    return true;
  }
  state_ = copy;
  return false;
}

// <pointer-to-member-type> ::= M <class type> <member type>
// Written: "int Foo::*", "void (Foo::*)()".
bool Demangler::ParsePointerToMemberType() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (!ParseChar('M')) return false;
  const char* const class_type = state_.in;
  const bool old_append = SetAppend(false);
  const bool class_ok = ParseType();
  SetAppend(old_append);
  if (class_ok) {
    if (!state_.append) {
      if (ParseType()) return true;
    } else if (FunctionTypeAhead()) {
      if (ParseWrittenFunctionType(nullptr, class_type)) return true;
    } else if (ParseType()) {
      Append(" ");
      if (WriteTypeAt(class_type)) {
        Append("::*");
        return true;
      }
    }
  }
  state_ = copy;
  return false;
}

// <template-param> ::= T_ | T <number> _, written as "?".
bool Demangler::ParseTemplateParam() {
  const ParseState copy = state_;
  if (ParseTwoChars("T_")) {
    Append("?");
    return true;
  }
  if (ParseChar('T') && ParseNonNegativeNumber(nullptr) && ParseChar('_')) {
    Append("?");
    return true;
  }
  state_ = copy;
  return false;
}

// <template-args> ::= I <template-arg>+ E, written as "<>".
bool Demangler::ParseTemplateArgs() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (!ParseChar('I')) return false;
  const bool old_append = SetAppend(false);
  int args = 0;
  while (ParseTemplateArg()) ++args;
  const bool ok = args > 0 && ParseChar('E');
  SetAppend(old_append);
  if (!ok) {
    state_ = copy;
    return false;
  }
  Append("<>");
  return true;
}

// <template-arg> ::= <type> | X <expression> E | <expr-primary>
//                ::= J <template-arg>* E   (argument pack)
bool Demangler::ParseTemplateArg() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseType() || ParseExprPrimary()) return true;
  state_ = copy;
  if (ParseChar('J')) {
    while (ParseTemplateArg()) {
    }
    if (ParseChar('E')) return true;
  }
  state_ = copy;
  if (ParseChar('X') && ParseExpression() && ParseChar('E')) return true;
  state_ = copy;
  return false;
}

// <decltype> ::= Dt <expression> E | DT <expression> E
bool Demangler::ParseDecltype() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if ((ParseTwoChars("Dt") || ParseTwoChars("DT")) && ParseExpression() &&
      ParseChar('E')) {
    return true;
  }
  state_ = copy;
  return false;
}

// <substitution> ::= S_ | S <seq-id> _ (written "?") | St | Sa | Sb | Ss
//                ::= Si | So | Sd
bool Demangler::ParseSubstitution() {
  const ParseState copy = state_;
  if (!ParseChar('S')) return false;
  if (ParseChar('_')) {
    Append("?");
    return true;
  }
  if (ParseSeqId()) {
    if (ParseChar('_')) {
      Append("?");
      return true;
    }
    state_ = copy;
    return false;
  }
  if (ParseChar('t')) {
    Append("std");
    return true;
  }
  for (const Abbreviation& a : kAbbreviations) {
    if (ParseChar(a.code)) {
      Append("std");
      Append("::");
      Append(a.name);
      return true;
    }
  }
  state_ = copy;
  return false;
}

// Expressions are parsed only to get past them; nothing is written.
bool Demangler::ParseExpression() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  const bool old_append = SetAppend(false);
  const bool ok = ParseExpressionBody();
  SetAppend(old_append);
  if (ok) return true;
  state_ = copy;
  return false;
}

bool Demangler::ParseExpressions(int count) {
  for (int i = 0; i < count; ++i) {
    if (!ParseExpression()) return false;
  }
  return true;
}

// <expression>* E
bool Demangler::ParseExpressionsUntilEnd() {
  while (ParseExpression()) {
  }
  return ParseChar('E');
}

bool Demangler::ParseExpressionBody() {
  const ParseState copy = state_;
  if (ParseTemplateParam() || ParseExprPrimary() || ParseFunctionParam()) {
    return true;
  }
  state_ = copy;

  // Prefix forms of ++ and --.
  if (ParseTwoChars("pp") || ParseTwoChars("mm")) {
    if (ParseChar('_') && ParseExpression()) return true;
  }
  state_ = copy;

  if (ParseTwoChars("cl")) {
    if (ParseExpression() && ParseExpressionsUntilEnd()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("cv")) {
    if (ParseType()) {
      const ParseState after_type = state_;
      if (ParseChar('_') && ParseExpressionsUntilEnd()) return true;
      state_ = after_type;
      if (ParseExpression()) return true;
    }
  }
  state_ = copy;
  if (ParseTwoChars("tl")) {
    if (ParseType()) {
      while (ParseBracedExpression()) {
      }
      if (ParseChar('E')) return true;
    }
  }
  state_ = copy;
  if (ParseTwoChars("il")) {
    while (ParseBracedExpression()) {
    }
    if (ParseChar('E')) return true;
  }
  state_ = copy;

  // [gs] nw|na <expression>* _ <type> (E | <initializer>); [gs] dl|da <expr>
  ParseTwoChars("gs");
  const ParseState after_gs = state_;
  if (ParseTwoChars("nw") || ParseTwoChars("na")) {
    while (ParseExpression()) {
    }
    if (ParseChar('_') && ParseType() && (ParseChar('E') || ParseInitializer())) {
      return true;
    }
  }
  state_ = after_gs;
  if (ParseTwoChars("dl") || ParseTwoChars("da")) {
    if (ParseExpression()) return true;
  }
  state_ = copy;

  if (ParseTwoChars("dc") || ParseTwoChars("sc") || ParseTwoChars("cc") ||
      ParseTwoChars("rc")) {
    if (ParseType() && ParseExpression()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("ti") || ParseTwoChars("st") || ParseTwoChars("at")) {
    if (ParseType()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("te") || ParseTwoChars("sz") || ParseTwoChars("az") ||
      ParseTwoChars("nx") || ParseTwoChars("tw") || ParseTwoChars("sp")) {
    if (ParseExpression()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("tr")) return true;
  if (ParseTwoChars("dt") || ParseTwoChars("pt")) {
    if (ParseExpression() && ParseUnresolvedName()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("ds")) {
    if (ParseExpressions(2)) return true;
  }
  state_ = copy;
  if (ParseTwoChars("sZ")) {
    if (ParseTemplateParam() || ParseFunctionParam()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("sP")) {
    while (ParseTemplateArg()) {
    }
    if (ParseChar('E')) return true;
  }
  state_ = copy;
  // Folds: fl/fr <binary operator> <expr>; fL/fR <binary operator> <expr> <expr>.
  if (ParseTwoChars("fl") || ParseTwoChars("fr")) {
    const OperatorInfo* op = FindOperator(state_.in);
    if (op != nullptr && op->arity == 2) {
      state_.in += 2;
      if (ParseExpression()) return true;
    }
  }
  state_ = copy;
  if (ParseTwoChars("fL") || ParseTwoChars("fR")) {
    const OperatorInfo* op = FindOperator(state_.in);
    if (op != nullptr && op->arity == 2) {
      state_.in += 2;
      if (ParseExpressions(2)) return true;
    }
  }
  state_ = copy;
  // Vendor extended expression.
  if (ParseChar('u')) {
    if (ParseSourceName()) {
      while (ParseTemplateArg()) {
      }
      if (ParseChar('E')) return true;
    }
  }
  state_ = copy;

  // Operators by their arity.
  if (const OperatorInfo* op = FindOperator(state_.in)) {
    if (op->code[0] != 'n' || (op->code[1] != 'w' && op->code[1] != 'a')) {
      state_.in += 2;
      if (ParseExpressions(op->arity)) return true;
    }
  }
  state_ = copy;

  if (ParseUnresolvedName()) return true;
  state_ = copy;
  return false;
}

// <braced-expression> ::= <expression> | di <field source-name> <braced>
//                     ::= dx <index expression> <braced>
//                     ::= dX <range begin> <range end> <braced>
bool Demangler::ParseBracedExpression() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseTwoChars("di")) {
    if (ParseSourceName() && ParseBracedExpression()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("dx")) {
    if (ParseExpression() && ParseBracedExpression()) return true;
  }
  state_ = copy;
  if (ParseTwoChars("dX")) {
    if (ParseExpressions(2) && ParseBracedExpression()) return true;
  }
  state_ = copy;
  return ParseExpression();
}

// <initializer> ::= pi <expression>* E | <braced-init-list>
bool Demangler::ParseInitializer() {
  const ParseState copy = state_;
  if (ParseTwoChars("pi") && ParseExpressionsUntilEnd()) return true;
  state_ = copy;
  if (ParseExpression()) return true;
  state_ = copy;
  return false;
}

// <expr-primary> ::= L <type> <value> E | L _Z <encoding> E | L <type> E
// where a value may be negative (n prefix), a hexadecimal floating-point
// image or a complex pair joined by _.
bool Demangler::ParseExprPrimary() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (!ParseChar('L')) return false;
  const bool old_append = SetAppend(false);
  bool ok = false;
  if (state_.in[0] == '_' && state_.in[1] == 'Z') {
    ok = ParseMangledName() && ParseChar('E');
  } else if (ParseType()) {
    ParseChar('n');
    while (IsDigit(*state_.in) || (*state_.in >= 'a' && *state_.in <= 'f') ||
           *state_.in == '_') {
      ++state_.in;
    }
    ok = ParseChar('E');
  }
  SetAppend(old_append);
  if (ok) return true;
  state_ = copy;
  return false;
}

// <function-param> ::= fpT | fp <CV-qualifiers> [<number>] _
//                  ::= fL <number> p <CV-qualifiers> [<number>] _
bool Demangler::ParseFunctionParam() {
  const ParseState copy = state_;
  if (ParseTwoChars("fp")) {
    if (ParseChar('T')) return true;
    ParseCVQualifiers(nullptr);
    ParseNonNegativeNumber(nullptr);
    if (ParseChar('_')) return true;
  }
  state_ = copy;
  if (ParseTwoChars("fL")) {
    if (ParseNonNegativeNumber(nullptr) && ParseChar('p')) {
      ParseCVQualifiers(nullptr);
      ParseNonNegativeNumber(nullptr);
      if (ParseChar('_')) return true;
    }
  }
  state_ = copy;
  return false;
}

// <unresolved-name> ::= [gs] <base-unresolved-name>
//                   ::= sr <unresolved-type> <base-unresolved-name>
//                   ::= srN <unresolved-type> <simple-id>+ E <base-unresolved-name>
//                   ::= [gs] sr <simple-id>+ E <base-unresolved-name>
bool Demangler::ParseUnresolvedName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  ParseTwoChars("gs");
  if (ParseBaseUnresolvedName()) return true;
  state_ = copy;
  if (ParseTwoChars("srN")) {
    if (ParseUnresolvedType()) {
      int levels = 0;
      while (ParseSimpleId()) ++levels;
      if (levels > 0 && ParseChar('E') && ParseBaseUnresolvedName()) {
        return true;
      }
    }
  }
  state_ = copy;
  if (ParseTwoChars("sr")) {
    if (ParseUnresolvedType() && ParseBaseUnresolvedName()) return true;
  }
  state_ = copy;
  ParseTwoChars("gs");
  if (ParseTwoChars("sr")) {
    int levels = 0;
    while (ParseSimpleId()) ++levels;
    if (levels > 0 && ParseChar('E') && ParseBaseUnresolvedName()) return true;
  }
  state_ = copy;
  // The older form that GCC still emits for a member of a named class
  // template: sr <type> <base-unresolved-name>, as in
  // srSt8is_constIT_E5value for std::is_const<T>::value.
  if (ParseTwoChars("sr")) {
    if (ParseType() && ParseBaseUnresolvedName()) return true;
  }
  state_ = copy;
  return false;
}

// <unresolved-type> ::= <template-param> [<template-args>] | <decltype>
//                   ::= <substitution>
// St names the namespace std, never a type, so it is left to the older
// form of unresolved names, where std::is_const<T> follows sr as a type.
bool Demangler::ParseUnresolvedType() {
  if (ParseTemplateParam()) {
    ParseTemplateArgs();
    return true;
  }
  if (state_.in[0] == 'S' && state_.in[1] == 't') return false;
  return ParseDecltype() || ParseSubstitution();
}

// <simple-id> ::= <source-name> [<template-args>]
bool Demangler::ParseSimpleId() {
  if (!ParseSourceName()) return false;
  ParseTemplateArgs();
  return true;
}

// <base-unresolved-name> ::= <simple-id> | on <operator-name> [<template-args>]
//                        ::= dn <unresolved-type> | dn <simple-id>
bool Demangler::ParseBaseUnresolvedName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseSimpleId()) return true;
  if (ParseTwoChars("on")) {
    if (ParseOperatorName()) {
      ParseTemplateArgs();
      return true;
    }
  }
  state_ = copy;
  if (ParseTwoChars("dn")) {
    if (ParseUnresolvedType() || ParseSimpleId()) return true;
  }
  state_ = copy;
  return false;
}

// <local-name> ::= Z <function encoding> E <entity name> [<discriminator>]
//              ::= Z <function encoding> E s [<discriminator>]
// The second form, a string literal, writes the function only. Default
// argument scopes (Z ... Ed) are not accepted.
//
// A name ends with its function's parameter list, so a member function's
// qualifiers are not written there; but the enclosing function of a local
// entity is written with them ("Foo::get() const::cache"), since the const
// and non-const overloads each have their own local statics.
bool Demangler::ParseLocalName() {
  Step step(this);
  if (step.Stop()) return false;
  const ParseState copy = state_;
  if (ParseChar('Z') && ParseEncoding() && ParseChar('E')) {
    if (ParseChar('s')) {
      ParseDiscriminator();
      name_qualifiers_ = MemberQualifiers();
      return true;
    }
    AppendFunctionQualifiers(name_qualifiers_.cv, name_qualifiers_.ref);
    Append("::");
    if (ParseName()) {
      ParseDiscriminator();
      return true;
    }
  }
  state_ = copy;
  return false;
}

// <discriminator> ::= _ <digit> | __ <number> _
bool Demangler::ParseDiscriminator() {
  const ParseState copy = state_;
  if (ParseTwoChars("__")) {
    if (ParseNonNegativeNumber(nullptr) && ParseChar('_')) return true;
    state_ = copy;
    return false;
  }
  if (ParseChar('_') && IsDigit(*state_.in)) {
    ++state_.in;
    return true;
  }
  state_ = copy;
  return false;
}

}  // namespace

bool Demangle(const char* mangled, char* out, size_t out_size) {
  if (mangled == nullptr || out == nullptr) return false;
  Demangler demangler(mangled, out, out_size);
  return demangler.Run();
}

void DemangleInPlace(char* text, int size) {
  if (size <= 0) return;
  char demangled[256];
  if (!Demangle(text, demangled, sizeof(demangled))) return;
  const size_t length = strlen(demangled);
  if (length + 1 > static_cast<size_t>(size)) return;
  memcpy(text, demangled, length + 1);
}

}  // namespace debug
}  // namespace kelmbase
