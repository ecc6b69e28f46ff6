#include "agent/base/debug/stack_trace.h"

#include <link.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "agent/base/debug/symbolize.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {
namespace stack_trace_test {

// Collects the handler's pieces.
class StringOutputHandler : public BacktraceOutputHandler {
 public:
  void Write(const char* text) override { text_ += text; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

std::string Output(const StackTrace& trace, const char* prefix = nullptr) {
  size_t count;
  const void* const* addresses = trace.Addresses(&count);
  StringOutputHandler handler;
  OutputBacktrace(addresses, count, prefix, &handler);
  return handler.text();
}

std::string SymbolOf(const void* return_address) {
  char out[1024];
  if (!SymbolizePc(reinterpret_cast<uintptr_t>(return_address) - 1, out,
                   sizeof(out))) {
    return "<unknown>";
  }
  return out;
}

[[gnu::noinline]] StackTrace CaptureHere(size_t count) {
  StackTrace trace(count);
  asm volatile("" ::: "memory");
  return trace;
}

[[gnu::noinline]] int Marker(int x) {
  asm volatile("" : "+r"(x));
  return x;
}

// Where the main program is loaded.
uint64_t MainProgramBias() {
  uint64_t bias = 0;
  dl_iterate_phdr(
      [](struct dl_phdr_info* info, size_t, void* data) {
        *static_cast<uint64_t*>(data) = info->dlpi_addr;
        return 1;  // the main program comes first
      },
      &bias);
  return bias;
}

// The run-time address of a symbol of this program, from nm.
uint64_t AddressOfSymbol(const std::string& symbol) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return 0;
  self[length] = '\0';
  const std::string command = std::string("nm '") + self + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  char line[4096];
  uint64_t value = 0;
  while (fgets(line, sizeof(line), pipe) != nullptr) {
    unsigned long long address;
    char type;
    char name[4000];
    if (sscanf(line, "%llx %c %3999s", &address, &type, name) == 3 &&
        symbol == name) {
      value = address;
      break;
    }
  }
  pclose(pipe);
  return value == 0 ? 0 : value + MainProgramBias();
}

TEST(StackTraceTest, CapturesTheCallingCode) {
  const StackTrace trace = CaptureHere(StackTrace::kMaxFrames);
  size_t count;
  const void* const* addresses = trace.Addresses(&count);
  ASSERT_GE(count, 3u);
  // The innermost frames are the capturing code (with a sanitizer's
  // interceptor, one more), then the function that asked, then its caller.
  size_t i = 0;
  while (i < 5 && i < count &&
         SymbolOf(addresses[i]) !=
             "kelmbase::debug::stack_trace_test::CaptureHere()") {
    ++i;
  }
  ASSERT_LT(i + 1, count) << Output(trace);
  EXPECT_NE(SymbolOf(addresses[i + 1]).find("CapturesTheCallingCode"),
            std::string::npos)
      << Output(trace);
}

TEST(StackTraceTest, FrameCountsAreCapped) {
  size_t count;
  CaptureHere(2).Addresses(&count);
  EXPECT_EQ(count, 2u);
  CaptureHere(0).Addresses(&count);
  EXPECT_EQ(count, 0u);

  const void* many[300];
  for (size_t i = 0; i < 300; ++i) many[i] = reinterpret_cast<void*>(i + 1);
  const StackTrace copy(many, 300);
  const void* const* addresses = copy.Addresses(&count);
  EXPECT_EQ(count, StackTrace::kMaxFrames);
  EXPECT_EQ(addresses[249], many[249]);
}

TEST(StackTraceTest, LineFormat) {
  const uint64_t marker = reinterpret_cast<uintptr_t>(&Marker) + 1;
  const void* frames[] = {
      reinterpret_cast<const void*>(marker),
      reinterpret_cast<const void*>(0x11),  // outside every mapping
      reinterpret_cast<const void*>(uintptr_t{0x123456789abcdef1}),
  };
  char hex[32];
  snprintf(hex, sizeof(hex), "%012llx",
           static_cast<unsigned long long>(marker));
  EXPECT_EQ(Output(StackTrace(frames, 3)),
            std::string("#0 0x") + hex +
                " kelmbase::debug::stack_trace_test::Marker()\n"
                "#1 0x000000000011 <unknown>\n"
                "#2 0x123456789abcdef1 <unknown>\n");
}

// Frame 3 at the complete-object constructor of StackTrace prints the class
// name, "::", the class's own name again and "()".
TEST(StackTraceTest, ConstructorFrame) {
  const uint64_t constructor =
      AddressOfSymbol("_ZN8kelmbase5debug10StackTraceC1Ev");
  ASSERT_NE(constructor, 0u);
  const void* frames[4] = {nullptr, nullptr, nullptr,
                           reinterpret_cast<const void*>(constructor + 1)};
  const std::string text = Output(StackTrace(frames, 4));
  char hex[32];
  snprintf(hex, sizeof(hex), "%012llx",
           static_cast<unsigned long long>(constructor + 1));
  ASSERT_EQ(strlen(hex), 12u) << "the test expects a 12-digit address";
  const std::string line = std::string("#3 0x") + hex +
                           " kelmbase::debug::StackTrace::StackTrace()\n";
  ASSERT_GE(text.size(), line.size());
  EXPECT_EQ(text.substr(text.size() - line.size()), line) << text;
}

TEST(StackTraceTest, PrefixPrecedesEveryLine) {
  const void* frames[] = {reinterpret_cast<const void*>(0x11),
                          reinterpret_cast<const void*>(0x22),
                          reinterpret_cast<const void*>(0x33)};
  EXPECT_EQ(Output(StackTrace(frames, 3), "[p] "),
            "[p] #0 0x000000000011 <unknown>\n"
            "[p] #1 0x000000000022 <unknown>\n"
            "[p] #2 0x000000000033 <unknown>\n");
  EXPECT_EQ(Output(StackTrace(frames, 0), "[p] "), "");
}

TEST(StackTraceDeathTest, PrintWritesToStandardError) {
  const void* frames[] = {reinterpret_cast<const void*>(0x11)};
  EXPECT_DEATH(
      {
        StackTrace(frames, 1).PrintWithPrefixToStderr(">> ");
        _exit(1);
      },
      "^>> #0 0x000000000011 <unknown>\n$");
}

// A real crash: the child's signal handler prints the stack, which names
// the functions that led to the fault, demangled.
void PrintStackAndDie(int signal_number) {
  StackTrace().Print();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

volatile int g_steps = 0;

[[gnu::noinline]] void CrashingLeaf(volatile int* target) {
  // The fault's address is the faulting instruction itself, and the
  // printer looks one byte before it: keep that byte inside this function.
  g_steps = g_steps + 1;
  *target = 1;
  asm volatile("" ::: "memory");
}

[[gnu::noinline]] void CallsCrashingLeaf(volatile int* target) {
  CrashingLeaf(target);
  asm volatile("" ::: "memory");
}

namespace {

[[gnu::noinline]] void CrashFromAnonymousNamespace() {
  signal(SIGSEGV, &PrintStackAndDie);
  // Not null, which the undefined-behaviour checker would stop first, but
  // as unmapped.
  CallsCrashingLeaf(reinterpret_cast<volatile int*>(uintptr_t{16}));
  asm volatile("" ::: "memory");
}

}  // namespace

TEST(StackTraceDeathTest, CrashPrintsTheTestsOwnFunctions) {
  EXPECT_DEATH(
      CrashFromAnonymousNamespace(),
      "#[0-9]+ 0x[0-9a-f]{12,} "
      "kelmbase::debug::stack_trace_test::CrashingLeaf\\(\\)\n"
      "#[0-9]+ 0x[0-9a-f]{12,} "
      "kelmbase::debug::stack_trace_test::CallsCrashingLeaf\\(\\)\n"
      "#[0-9]+ 0x[0-9a-f]{12,} kelmbase::debug::stack_trace_test::"
      "\\(anonymous namespace\\)::CrashFromAnonymousNamespace\\(\\)\n");
}

}  // namespace stack_trace_test
}  // namespace debug
}  // namespace kelmbase
