// The crash printer's two halves against the C runtime's equivalents:
// demangling the C++ runtime's own symbol set against abi::__cxa_demangle,
// and symbolizing 1,000 return addresses of this program against
// backtrace_symbols. Ours allocate nothing and may run in a signal handler;
// the peers allocate and take the loader's lock.

#include <cxxabi.h>
#include <execinfo.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "agent/base/debug/demangle.h"
#include "agent/base/debug/stack_trace.h"
#include "agent/base/debug/symbolize.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"

namespace {

std::vector<std::string> ReadLines(const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  char buffer[8192];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) {
    std::string line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  pclose(pipe);
  return lines;
}

// The mangled names of the C++ runtime this program runs with.
const std::vector<std::string>& RuntimeNames() {
  static const std::vector<std::string>* const names = [] {
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
    auto* result = new std::vector<std::string>();
    for (const std::string& line : ReadLines(
             "nm -D --defined-only --without-symbol-versions '" + path + "'")) {
      const size_t space = line.find_last_of(' ');
      const std::string name = line.substr(space + 1);
      if (name.compare(0, 2, "_Z") == 0) result->push_back(name);
    }
    return result;
  }();
  return *names;
}

void BM_Demangle(benchmark::State& state) {
  const std::vector<std::string>& names = RuntimeNames();
  char out[1024];
  for (auto _ : state) {
    for (const std::string& name : names) {
      benchmark::DoNotOptimize(
          kelmbase::debug::Demangle(name.c_str(), out, sizeof(out)));
    }
  }
  state.SetItemsProcessed(state.iterations() * names.size());
}
BENCHMARK(BM_Demangle)->Unit(benchmark::kMillisecond);

void BM_CxaDemangle(benchmark::State& state) {
  const std::vector<std::string>& names = RuntimeNames();
  // One buffer, grown by the runtime as needed, as a caller would keep it.
  size_t length = 1024;
  char* out = static_cast<char*>(malloc(length));
  for (auto _ : state) {
    for (const std::string& name : names) {
      int status = 0;
      char* result = abi::__cxa_demangle(name.c_str(), out, &length, &status);
      if (result != nullptr) out = result;
      benchmark::DoNotOptimize(status);
    }
  }
  free(out);
  state.SetItemsProcessed(state.iterations() * names.size());
}
BENCHMARK(BM_CxaDemangle)->Unit(benchmark::kMillisecond);

// 1,000 return addresses inside functions of this program, spread over its
// text: a few bytes into each of 1,000 functions.
const std::vector<void*>& ReturnAddresses() {
  static const std::vector<void*>* const addresses = [] {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    self[n > 0 ? n : 0] = '\0';
    uintptr_t bias = 0;
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) {
          *static_cast<uintptr_t*>(data) = info->dlpi_addr;
          return 1;
        },
        &bias);
    std::vector<uintptr_t> functions;
    for (const std::string& line :
         ReadLines(std::string("nm -S --defined-only '") + self + "'")) {
      unsigned long long value, size;
      char type;
      if (sscanf(line.c_str(), "%llx %llx %c", &value, &size, &type) == 3 &&
          (type == 'T' || type == 't') && size >= 16) {
        functions.push_back(bias + value + 8);
      }
    }
    auto* result = new std::vector<void*>();
    for (size_t i = 0; i < 1000 && !functions.empty(); ++i) {
      result->push_back(
          reinterpret_cast<void*>(functions[i * functions.size() / 1000]));
    }
    return result;
  }();
  return *addresses;
}

// Takes the frame lines and keeps only their length, so that what is
// measured is finding the names, not writing them.
class CountingHandler : public kelmbase::debug::BacktraceOutputHandler {
 public:
  void Write(const char* text) override { bytes_ += strlen(text); }
  size_t bytes() const { return bytes_; }

 private:
  size_t bytes_ = 0;
};

// The whole trace in one call, as the crash printer does it and as
// backtrace_symbols gets it: each frame's line with the name of the
// function holding (return address - 1). Every frame re-reads
// /proc/self/maps and the object's tables; nothing is kept between frames.
void BM_SymbolizeTrace(benchmark::State& state) {
  const std::vector<void*>& addresses = ReturnAddresses();
  for (auto _ : state) {
    CountingHandler handler;
    kelmbase::debug::OutputBacktrace(
        const_cast<const void* const*>(addresses.data()), addresses.size(),
        nullptr, &handler);
    benchmark::DoNotOptimize(handler.bytes());
  }
  state.SetItemsProcessed(state.iterations() * addresses.size());
}
BENCHMARK(BM_SymbolizeTrace)->Unit(benchmark::kMillisecond);

// Only the per-address search for the object file (open and read the proc
// files, open and close the object), without any symbol lookup: the least
// that the crash printer's per-frame re-reading costs.
void BM_FindObjectFileOnly(benchmark::State& state) {
  const std::vector<void*>& addresses = ReturnAddresses();
  for (auto _ : state) {
    for (void* address : addresses) {
      uint64_t start = 0;
      uint64_t bias = 0;
      char path[1024];
      const int fd = kelmbase::debug::OpenObjectFileForPc(
          reinterpret_cast<uintptr_t>(address) - 1, &start, &bias, path,
          sizeof(path));
      if (fd >= 0) close(fd);
      benchmark::DoNotOptimize(bias);
    }
  }
  state.SetItemsProcessed(state.iterations() * addresses.size());
}
BENCHMARK(BM_FindObjectFileOnly)->Unit(benchmark::kMillisecond);

// The same 1,000 addresses in one call. It names addresses through the
// loader's dynamic symbols only, which this program's own functions are not
// among, so its lines read "<path>(+0x<offset>) [<address>]": it finds the
// object, not the function.
void BM_BacktraceSymbols(benchmark::State& state) {
  const std::vector<void*>& addresses = ReturnAddresses();
  for (auto _ : state) {
    char** symbols = backtrace_symbols(addresses.data(),
                                       static_cast<int>(addresses.size()));
    benchmark::DoNotOptimize(symbols);
    free(symbols);
  }
  state.SetItemsProcessed(state.iterations() * addresses.size());
}
BENCHMARK(BM_BacktraceSymbols)->Unit(benchmark::kMillisecond);

const kelm_bench::RatioRegistration kDemangleRatio(
    "Demangle/abi::__cxa_demangle (runtime's names)", "BM_Demangle",
    "BM_CxaDemangle");
const kelm_bench::RatioRegistration kSymbolizeRatio(
    "Symbolize trace/backtrace_symbols (1,000 addresses)",
    "BM_SymbolizeTrace", "BM_BacktraceSymbols");
const kelm_bench::RatioRegistration kObjectFileRatio(
    "Object-file search alone/backtrace_symbols (1,000 addresses)",
    "BM_FindObjectFileOnly", "BM_BacktraceSymbols");

}  // namespace
