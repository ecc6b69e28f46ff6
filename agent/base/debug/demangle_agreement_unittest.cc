// Runs the demangler over every mangled name in the symbol tables of our own
// binaries and of the C++ runtime, and compares each result with binutils'
// c++filt. c++filt writes the full name; the demangler writes a short form
// (no parameter types, no template arguments, special names as their
// entity), so c++filt's text is first brought to that form by the rules of
// the short form, then compared. Every remaining difference must be one the
// short form's rules explain.

#include <dlfcn.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "agent/base/debug/demangle.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {
namespace {

std::vector<std::string> RunAndReadLines(const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  std::string line;
  char buffer[4096];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) {
    line += buffer;
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(line);
  pclose(pipe);
  return lines;
}

// The C++ runtime this test runs with.
std::string LoadedLibstdcxxPath() {
  std::string path;
  dl_iterate_phdr(
      [](struct dl_phdr_info* info, size_t, void* data) {
        if (info->dlpi_name != nullptr &&
            strstr(info->dlpi_name, "libstdc++.so.6") != nullptr) {
          *static_cast<std::string*>(data) = info->dlpi_name;
          return 1;
        }
        return 0;
      },
      &path);
  return path;
}

// Every symbol of `path` whose name starts with "_Z"; `dynamic` reads the
// dynamic table (with symbol versions) rather than the full one.
void AddMangledNames(const std::string& path, bool dynamic,
                     std::set<std::string>* names) {
  const std::string command = std::string("nm ") + (dynamic ? "-D " : "") +
                              "'" + path + "' 2>/dev/null";
  for (const std::string& line : RunAndReadLines(command)) {
    const size_t space = line.find_last_of(' ');
    const std::string name =
        space == std::string::npos ? line : line.substr(space + 1);
    if (name.compare(0, 2, "_Z") == 0) names->insert(name);
  }
}

// c++filt's text for each name, in order.
std::vector<std::string> CxxFilt(const std::vector<std::string>& names) {
  std::string file = testing::TempDir() + "/demangle_agreement_XXXXXX";
  const int fd = mkstemp(file.data());
  if (fd < 0) return {};
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  const bool written =
      write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  std::vector<std::string> result;
  if (written) result = RunAndReadLines("c++filt < '" + file + "'");
  unlink(file.c_str());
  return result;
}

bool StartsWith(const std::string& s, size_t pos, const char* prefix) {
  return s.compare(pos, strlen(prefix), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void ReplaceAll(std::string* s, const std::string& from,
                const std::string& to) {
  for (size_t pos = s->find(from); pos != std::string::npos;
       pos = s->find(from, pos + to.size())) {
    s->replace(pos, from.size(), to);
  }
}

// Operator symbols as c++filt writes them after "operator", longest first.
const char* const kOperatorSymbols[] = {
    "->*", "<<=", ">>=", "<=>", "()", "[]", "->", "<<", ">>", "<=", ">=",
    "==",  "!=",  "+=",  "-=",  "*=", "/=", "%=", "&=", "|=", "^=", "&&",
    "||",  "++",  "--",  "<",   ">",  "=",  "+",  "-",  "*",  "/",  "%",
    "&",   "|",   "^",   "~",   "!",  ",",
};

// The index just past "operator" and its symbol, when an operator name
// starts at `i`; otherwise `i`.
size_t SkipOperatorName(const std::string& s, size_t i) {
  if (!StartsWith(s, i, "operator")) return i;
  if (i > 0 && (isalnum(static_cast<unsigned char>(s[i - 1])) || s[i - 1] == '_'))
    return i;
  size_t end = i + strlen("operator");
  if (end < s.size() &&
      (isalnum(static_cast<unsigned char>(s[end])) || s[end] == '_')) {
    return i;
  }
  for (const char* symbol : kOperatorSymbols) {
    if (StartsWith(s, end, symbol)) return end + strlen(symbol);
  }
  return end;
}

// The index just past the group that opens at `open` ('<' or '('), counting
// both kinds of brackets; npos when unbalanced.
size_t SkipGroup(const std::string& s, size_t open) {
  int depth = 0;
  size_t i = open;
  while (i < s.size()) {
    // An operator name inside a group ("&Foo::operator<") opens none.
    const size_t past_operator = SkipOperatorName(s, i);
    if (past_operator != i) {
      i = past_operator;
      continue;
    }
    if (s[i] == '<' || s[i] == '(') ++depth;
    if (s[i] == '>' || s[i] == ')') {
      if (--depth == 0) return i + 1;
    }
    ++i;
  }
  return std::string::npos;
}

// Writes template argument lists as "<>" and parameter lists as "()",
// keeping operator names and "(anonymous namespace)" as they are.
std::string CollapseGroups(const std::string& s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    // Texts with brackets that are names, not groups.
    bool kept = false;
    for (const char* name : {"(anonymous namespace)", "decltype(nullptr)",
                             "decltype(auto)"}) {
      if (StartsWith(s, i, name)) {
        out += name;
        i += strlen(name);
        kept = true;
        break;
      }
    }
    if (kept) continue;
    const size_t past_operator = SkipOperatorName(s, i);
    if (past_operator != i) {
      out.append(s, i, past_operator - i);
      i = past_operator;
      continue;
    }
    if (s[i] == '<' || s[i] == '(') {
      const size_t end = SkipGroup(s, i);
      if (end == std::string::npos) return s;
      if (s[i] == '<' && !out.empty() && out.back() == '<') out += ' ';
      const std::string inner = s.substr(i + 1, end - i - 2);
      if (s[i] == '(' && !out.empty() && out.back() == ' ' &&
          end < s.size() && s[end] == '(' && !inner.empty() &&
          (inner.back() == '*' || inner.back() == '&')) {
        // The declarator of a pointer to function: "void (*)(int)".
        out += "(" + CollapseGroups(inner) + ")";
      } else {
        out += s[i] == '<' ? "<>" : "()";
      }
      i = end;
      continue;
    }
    out += s[i++];
  }
  return out;
}

// Splits at blanks outside "(anonymous namespace)".
std::vector<std::string> SplitWords(const std::string& s) {
  std::vector<std::string> words;
  std::string word;
  for (size_t i = 0; i < s.size(); ++i) {
    if (StartsWith(s, i, "(anonymous namespace)")) {
      word += "(anonymous namespace)";
      i += strlen("(anonymous namespace)") - 1;
      continue;
    }
    if (s[i] == ' ') {
      words.push_back(word);
      word.clear();
    } else {
      word += s[i];
    }
  }
  words.push_back(word);
  return words;
}

bool IsOperatorWord(const std::string& word) {
  const size_t pos = word.rfind("operator");
  if (pos == std::string::npos) return false;
  return pos == 0 || word[pos - 1] == ':';
}

// Whether `collapsed`, which ends with "()", is a function type rather than
// a function: no operator name, and its last word is the parameter list
// alone or a declarator group with it, "void ()" or "bool (*)()". (A
// conversion operator to a pointer to function ends in such a word too.)
bool IsFunctionType(const std::string& collapsed) {
  const std::vector<std::string> words = SplitWords(collapsed);
  for (const std::string& word : words) {
    if (IsOperatorWord(word)) return false;
  }
  const std::string& last = words.back();
  return last[0] == '(' && !StartsWith(last, 0, "(anonymous namespace)");
}

// The short form of c++filt's full text, by the short form's own rules.
// `construct` receives the name of a construct the demangler does not
// accept, when the text shows one.
std::string ShortForm(std::string full, std::string* construct) {
  // Clone suffixes: dropped when a period, letters, a period and digits
  // each; anything else ("[clone .cold]") is not accepted.
  static const char kClone[] = " [clone .";
  for (size_t pos = full.find(kClone); pos != std::string::npos;
       pos = full.find(kClone)) {
    const size_t end = full.find(']', pos);
    const std::string suffix = full.substr(pos + strlen(kClone) - 1,
                                           end - (pos + strlen(kClone) - 1));
    size_t k = 1;
    while (k < suffix.size() && isalpha(static_cast<unsigned char>(suffix[k])))
      ++k;
    const bool letters = k > 1;
    const bool dot = k < suffix.size() && suffix[k] == '.';
    size_t d = k + 1;
    while (d < suffix.size() && isdigit(static_cast<unsigned char>(suffix[d])))
      ++d;
    if (!letters || !dot || d == k + 1 || d != suffix.size()) {
      *construct = "clone suffix other than .letters.digits";
    }
    full.erase(pos, end + 1 - pos);
  }
  if (full.find("{lambda(") != std::string::npos ||
      full.find("{unnamed type#") != std::string::npos) {
    *construct = "closure or unnamed type";
  }
  if (full.find("{default arg#") != std::string::npos) {
    *construct = "default argument scope";
  }

  // Special names: only the entity they refer to.
  static const char* const kSpecialPrefixes[] = {
      "vtable for ",
      "VTT for ",
      "typeinfo for ",
      "typeinfo name for ",
      "guard variable for ",
      "TLS init function for ",
      "TLS wrapper function for ",
      "non-virtual thunk to ",
      "virtual thunk to ",
      "covariant return thunk to ",
      "transaction clone for ",
      "non-transaction clone for ",
      "hidden alias for ",
      "reference temporary #0 for ",
  };
  for (bool again = true; again;) {
    again = false;
    for (const char* prefix : kSpecialPrefixes) {
      if (StartsWith(full, 0, prefix)) {
        full.erase(0, strlen(prefix));
        again = true;
      }
    }
  }
  // A construction vtable names the complete class, after "-in-".
  static const char kConstruction[] = "construction vtable for ";
  if (StartsWith(full, 0, kConstruction)) {
    const size_t in = full.rfind("-in-");
    if (in != std::string::npos) full.erase(0, in + 4);
  }

  // The standard abbreviations stand for these; c++filt spells some out.
  static const struct {
    const char* spelled;
    const char* abbreviated;
    const char* name;
  } kAbbreviations[] = {
      {"std::basic_string<char, std::char_traits<char>, "
       "std::allocator<char> >",
       "std::string", "basic_string"},
      {"std::basic_istream<char, std::char_traits<char> >", "std::istream",
       "basic_istream"},
      {"std::basic_ostream<char, std::char_traits<char> >", "std::ostream",
       "basic_ostream"},
      {"std::basic_iostream<char, std::char_traits<char> >", "std::iostream",
       "basic_iostream"},
  };
  for (const auto& a : kAbbreviations) {
    const std::string short_name = strchr(a.abbreviated, ':') + 2;
    for (const char* after : {"(", "<"}) {
      for (const char* tilde : {"", "~"}) {
        ReplaceAll(&full, std::string(a.spelled) + "::" + tilde + a.name + after,
                   std::string(a.abbreviated) + "::" + tilde + short_name +
                       after);
      }
    }
    ReplaceAll(&full, a.spelled, a.abbreviated);
  }

  // ABI tags are not written; nor are string literals of local names.
  for (size_t pos = full.find("[abi:"); pos != std::string::npos;
       pos = full.find("[abi:")) {
    full.erase(pos, full.find(']', pos) + 1 - pos);
  }
  ReplaceAll(&full, "::string literal", "");

  std::string collapsed = CollapseGroups(full);

  // A function: drop the qualifiers after its parameter list and the return
  // type before its name.
  static const char* const kQualifiers[] = {" const", " volatile", " restrict",
                                            " &&", " &"};
  std::string unqualified = collapsed;
  for (bool again = true; again;) {
    again = false;
    for (const char* q : kQualifiers) {
      if (EndsWith(unqualified, q)) {
        unqualified.erase(unqualified.size() - strlen(q));
        again = true;
      }
    }
  }
  // A function type (the entity of a typeinfo name, "void () const") has no
  // name before its parameter list, and keeps its qualifiers and its return
  // type.
  if (!EndsWith(unqualified, "()") || IsFunctionType(unqualified)) {
    return collapsed;
  }
  const std::vector<std::string> words = SplitWords(unqualified);
  size_t first = words.size() - 1;
  for (size_t i = 0; i < words.size(); ++i) {
    if (IsOperatorWord(words[i])) {
      first = i;
      break;
    }
  }
  std::string name;
  for (size_t i = first; i < words.size(); ++i) {
    if (i > first) name += ' ';
    name += words[i];
  }
  return name;
}

// "?" in the demangler's output stands for a back-reference or template
// parameter that c++filt resolves: it matches any non-empty text.
bool MatchesWithPlaceholders(const char* ours, const char* expected) {
  if (*ours == '\0') return *expected == '\0';
  if (*ours == '?') {
    for (const char* e = expected + 1; *(e - 1) != '\0'; ++e) {
      if (MatchesWithPlaceholders(ours + 1, e)) return true;
    }
    return false;
  }
  return *ours == *expected && MatchesWithPlaceholders(ours + 1, expected + 1);
}

TEST(DemangleAgreementTest, AgreesWithCxxFilt) {
  std::set<std::string> name_set;
  // This test's own binary; "/proc/self" would be nm's.
  char self[4096];
  const ssize_t self_length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  ASSERT_GT(self_length, 0);
  self[self_length] = '\0';
  AddMangledNames(self, false, &name_set);
  const std::string tool = KELM_BINARY_DIR "/internal/certificate/tarvik/tarvik";
  if (access(tool.c_str(), R_OK) == 0) AddMangledNames(tool, false, &name_set);
  const std::string libstdcxx = LoadedLibstdcxxPath();
  ASSERT_FALSE(libstdcxx.empty());
  const size_t before_runtime = name_set.size();
  AddMangledNames(libstdcxx, true, &name_set);
  ASSERT_GT(before_runtime, 1000u) << "nm found no names in our binaries";
  ASSERT_GT(name_set.size(), before_runtime + 3000) << "nm found no names in "
                                                    << libstdcxx;

  const std::vector<std::string> names(name_set.begin(), name_set.end());
  const std::vector<std::string> full = CxxFilt(names);
  ASSERT_EQ(full.size(), names.size()) << "c++filt failed";

  size_t identical = 0;
  std::map<std::string, size_t> explained;
  std::vector<std::string> unexplained;
  for (size_t i = 0; i < names.size(); ++i) {
    char buffer[4096];
    const bool ok = Demangle(names[i].c_str(), buffer, sizeof(buffer));
    const std::string ours = ok ? buffer : "<failed>";
    if (full[i] == names[i]) {
      // c++filt could not demangle it either.
      if (!ok) {
        ++identical;
      } else {
        // Long expression-laden names (decltype return types that call
        // members through unresolved names) are beyond c++filt; ours still
        // parses them by the grammar and writes the short form.
        ++explained["c++filt cannot demangle it, ours parses it"];
      }
      continue;
    }
    // A symbol version follows the name unchanged in both.
    const size_t at = names[i].find('@');
    const std::string version =
        at == std::string::npos ? std::string() : names[i].substr(at);
    std::string full_name = full[i];
    if (EndsWith(full_name, version)) {
      full_name.erase(full_name.size() - version.size());
    }
    std::string construct;
    const std::string expected = ShortForm(full_name, &construct) + version;
    if (ok && ours == expected) {
      ++identical;
    } else if (!construct.empty() && !ok) {
      ++explained[construct + " (not accepted)"];
    } else if (ok && ours.find('?') != std::string::npos &&
               MatchesWithPlaceholders(ours.c_str(), expected.c_str())) {
      ++explained["back-reference or template parameter written as ?"];
    } else {
      unexplained.push_back(names[i] + "\n   ours:     " + ours +
                            "\n   expected: " + expected +
                            "\n   c++filt:  " + full[i]);
    }
  }

  // Names that the short form's rules refuse (closures, ".cold" clones)
  // cannot agree; the figure that must hold is over the others.
  size_t refused = 0;
  for (const auto& [rule, count] : explained) {
    if (rule.find("(not accepted)") != std::string::npos) refused += count;
  }
  const double percent = 100.0 * identical / names.size();
  const double percent_accepted =
      100.0 * identical / (names.size() - refused);
  printf("demangled %zu names: %zu identical to c++filt (%.2f%% of all, "
         "%.2f%% of the %zu the short form accepts)\n",
         names.size(), identical, percent, percent_accepted,
         names.size() - refused);
  for (const auto& [rule, count] : explained) {
    printf("  %zu explained: %s\n", count, rule.c_str());
  }
  printf("  %zu unexplained\n", unexplained.size());
  for (size_t i = 0; i < unexplained.size() && i < 200; ++i) {
    printf("%s\n", unexplained[i].c_str());
  }
  EXPECT_GE(percent_accepted, 99.5);
  EXPECT_TRUE(unexplained.empty());
}

}  // namespace
}  // namespace debug
}  // namespace kelmbase
