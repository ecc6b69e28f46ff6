#include "agent/base/debug/symbolize.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {
namespace symbolize_test {

[[gnu::noinline]] int Target(int x) {
  asm volatile("" : "+r"(x));
  return x + 1;
}

namespace {

uint64_t AddressOf(int (*function)(int)) {
  return reinterpret_cast<uintptr_t>(function);
}

std::string Symbolize(uint64_t pc, int size = 1024) {
  char out[1024];
  memset(out, 'x', sizeof(out));
  if (!SymbolizePc(pc, out, size)) return "<unknown>";
  return out;
}

// The load bias of the loaded object whose name contains `name` ("" for the
// main program).
uint64_t LoadBiasOf(const char* name) {
  struct Query {
    const char* name;
    uint64_t bias;
    bool found;
  } query = {name, 0, false};
  dl_iterate_phdr(
      [](struct dl_phdr_info* info, size_t, void* data) {
        Query* q = static_cast<Query*>(data);
        const char* object = info->dlpi_name ? info->dlpi_name : "";
        const bool match = q->name[0] == '\0'
                               ? object[0] == '\0'
                               : strstr(object, q->name) != nullptr;
        if (!match) return 0;
        q->bias = info->dlpi_addr;
        q->found = true;
        return 1;
      },
      &query);
  EXPECT_TRUE(query.found) << name;
  return query.bias;
}

TEST(SymbolizePcTest, NamesFunctionsOfThisProgram) {
  const uint64_t target = AddressOf(&Target);
  EXPECT_EQ(Symbolize(target), "kelmbase::debug::symbolize_test::Target()");
  EXPECT_EQ(Symbolize(target + 1), "kelmbase::debug::symbolize_test::Target()");
  // The byte before the function belongs to something else.
  EXPECT_NE(Symbolize(target - 1), "kelmbase::debug::symbolize_test::Target()");
}

TEST(SymbolizePcTest, NamesFunctionsOfSharedObjects) {
  // The C library keeps only its dynamic symbol table.
  const std::string name = Symbolize(reinterpret_cast<uintptr_t>(&getpid));
  EXPECT_NE(name.find("getpid"), std::string::npos) << name;
}

TEST(SymbolizePcTest, UnknownAddresses) {
  int on_stack = 0;
  EXPECT_EQ(Symbolize(0x10), "<unknown>");
  EXPECT_EQ(Symbolize(~uint64_t{0} - 8), "<unknown>");
  // Mapped, but not executable.
  EXPECT_EQ(Symbolize(reinterpret_cast<uintptr_t>(&on_stack)), "<unknown>");
}

TEST(SymbolizePcTest, NameMustFitTheBuffer) {
  const uint64_t target = AddressOf(&Target);
  const std::string full = "kelmbase::debug::symbolize_test::Target()";
  // The stored (mangled) name is longer than the demangled one; what
  // counts first is that the stored name and its NUL fit.
  const std::string mangled = "_ZN8kelmbase5debug14symbolize_test6TargetEi";
  EXPECT_EQ(Symbolize(target, static_cast<int>(mangled.size()) + 1), full);
  EXPECT_EQ(Symbolize(target, static_cast<int>(mangled.size())), "<unknown>");
  EXPECT_EQ(Symbolize(target, 1), "<unknown>");
  EXPECT_EQ(Symbolize(target, 0), "<unknown>");
}

TEST(SymbolizePcDeathTest, NegativeSizeIsFatal) {
  char out[8];
  EXPECT_DEATH(SymbolizePc(AddressOf(&Target), out, -1),
               "negative symbol buffer size");
}

TEST(SymbolizePcTest, KeepsErrno) {
  errno = 1234;
  Symbolize(AddressOf(&Target));
  Symbolize(0x10);
  EXPECT_EQ(errno, 1234);
}

// An executable mapping of a file that is gone: the path is printed with the
// offset from the object's load bias.
TEST(SymbolizePcTest, ObjectFileThatCannotBeOpened) {
  std::string folder = testing::TempDir();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string path = folder + "/symbolize_object_XXXXXX";
  const int fd = mkstemp(path.data());
  ASSERT_GE(fd, 0);
  // An ELF header of a shared object whose first loadable segment starts
  // at virtual address 0x1000: the bias is the mapping's start - 0x1000.
  std::string bytes(4096, '\0');
  Elf64_Ehdr header;
  memset(&header, 0, sizeof(header));
  memcpy(header.e_ident, ELFMAG, SELFMAG);
  header.e_ident[EI_CLASS] = ELFCLASS64;
  header.e_type = ET_DYN;
  header.e_phoff = sizeof(header);
  header.e_phnum = 2;
  Elf64_Phdr note;
  memset(&note, 0, sizeof(note));
  note.p_type = PT_NOTE;
  Elf64_Phdr load = note;
  load.p_type = PT_LOAD;
  load.p_offset = 0;
  load.p_vaddr = 0x1000;
  memcpy(bytes.data(), &header, sizeof(header));
  memcpy(bytes.data() + sizeof(header), &note, sizeof(note));
  memcpy(bytes.data() + sizeof(header) + sizeof(note), &load, sizeof(load));
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()),
            static_cast<ssize_t>(bytes.size()));
  void* mapping = mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
  close(fd);
  if (mapping == MAP_FAILED) {
    unlink(path.c_str());
    GTEST_SKIP() << "temporary folder does not allow executable mappings";
  }
  unlink(path.c_str());
  const uint64_t start = reinterpret_cast<uintptr_t>(mapping);

  char hex[32];
  snprintf(hex, sizeof(hex), "%llx",
           static_cast<unsigned long long>(0x1000 + 0x24));
  EXPECT_EQ(Symbolize(start + 0x24),
            "(" + path + " (deleted)+0x" + hex + ")");
  // Cut short by a small buffer, still NUL-terminated.
  EXPECT_EQ(Symbolize(start + 0x24, 6), "(" + path.substr(0, 4));
  munmap(mapping, 4096);
}

TEST(OpenObjectFileForPcTest, FindsFileAndLoadBias) {
  const struct {
    uint64_t pc;
    const char* object;
  } kCases[] = {
      {AddressOf(&Target), ""},
      {reinterpret_cast<uintptr_t>(&getpid), "libc.so"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.object);
    uint64_t start = 0;
    uint64_t bias = 1;
    char name[256] = "";
    const int fd = OpenObjectFileForPc(c.pc, &start, &bias, name, sizeof(name));
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_LE(start, c.pc);
    EXPECT_EQ(bias, LoadBiasOf(c.object));
    EXPECT_STREQ(name, "");
  }
  uint64_t start = 0;
  uint64_t bias = 0;
  char name[16] = "";
  EXPECT_EQ(OpenObjectFileForPc(0x10, &start, &bias, name, sizeof(name)), -1);
}

TEST(ParseHexFieldTest, StopsAtTheFirstOtherCharacter) {
  const struct {
    const char* text;
    uint64_t value;
    size_t consumed;
  } kCases[] = {
      {"7f00aB-", 0x7f00ab, 6},
      {"0 ", 0, 1},
      {"ffffffffffffffff ", ~uint64_t{0}, 16},
      {"-12", 0, 0},
      {"", 0, 0},
      {"12g", 0x12, 2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    uint64_t value = 99;
    const char* end = ParseHexField(c.text, &value);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(static_cast<size_t>(end - c.text), c.consumed);
  }
}

// Hooks replace the file search and may put a prefix before the name.
int OpenMissingObject(uint64_t, uint64_t* start, uint64_t* bias, char* name,
                      size_t size) {
  *start = 0x1000;
  *bias = 0x1000;
  snprintf(name, size, "%s", "/no/such/lib.so");
  return -1;
}

int OpenThisProgram(uint64_t pc, uint64_t* start, uint64_t* bias, char* name,
                    size_t size) {
  *start = 0;
  *bias = LoadBiasOf("");
  return open("/proc/self/exe", O_RDONLY);
}

int WritePrefix(int, uint64_t, char* out, size_t size, uint64_t) {
  return snprintf(out, size, "[prefix]");
}

TEST(SymbolizeHooksTest, HooksAreUsed) {
  InstallOpenObjectFileHook(&OpenMissingObject);
  EXPECT_EQ(Symbolize(0x1234), "(/no/such/lib.so+0x234)");
  InstallOpenObjectFileHook(&OpenThisProgram);
  InstallSymbolizeHook(&WritePrefix);
  EXPECT_EQ(Symbolize(AddressOf(&Target)),
            "[prefix]kelmbase::debug::symbolize_test::Target()");
  InstallSymbolizeHook(nullptr);
  InstallOpenObjectFileHook(nullptr);
  EXPECT_EQ(Symbolize(AddressOf(&Target)),
            "kelmbase::debug::symbolize_test::Target()");
}

}  // namespace
}  // namespace symbolize_test
}  // namespace debug
}  // namespace kelmbase
