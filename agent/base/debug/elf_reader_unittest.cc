#include "agent/base/debug/elf_reader.h"

#include <elf.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace debug {
namespace {

// A file of bytes in the test's temporary folder, open for reading.
class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    path_ = testing::TempDir() + "/elf_reader_XXXXXX";
    fd_ = mkstemp(path_.data());
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(write(fd_, contents.data(), contents.size()),
              static_cast<ssize_t>(contents.size()));
  }
  ~TempFile() {
    close(fd_);
    unlink(path_.c_str());
  }
  int fd() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
};

template <typename T>
void AppendBytes(std::string* out, const T& value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof(value));
}

Elf64_Sym Symbol(uint32_t name, uint64_t value, uint64_t size,
                 uint16_t section = 1) {
  Elf64_Sym symbol;
  memset(&symbol, 0, sizeof(symbol));
  symbol.st_name = name;
  symbol.st_value = value;
  symbol.st_size = size;
  symbol.st_shndx = section;
  symbol.st_info = ELF64_ST_INFO(STB_GLOBAL, STT_FUNC);
  return symbol;
}

// A string table and a symbol table laid out one after the other, with the
// section headers that describe them.
struct Tables {
  std::string bytes;
  Elf64_Shdr strings;
  Elf64_Shdr symbols;
};

// Names: 1 "undefined", 11 "zero", 16 "first", 22 "second", 29 "shadowed".
Tables MakeTables() {
  const char kStrings[] = "\0undefined\0zero\0first\0second\0shadowed";
  Tables t;
  memset(&t.strings, 0, sizeof(t.strings));
  memset(&t.symbols, 0, sizeof(t.symbols));
  t.strings.sh_type = SHT_STRTAB;
  t.strings.sh_offset = 0;
  t.strings.sh_size = sizeof(kStrings);
  t.bytes.assign(kStrings, sizeof(kStrings));
  t.bytes.resize(64, '\0');

  const Elf64_Sym kSymbols[] = {
      Symbol(0, 0, 0, 0),
      Symbol(1, 0x1000, 0x100, SHN_UNDEF),  // undefined: skipped
      Symbol(11, 0, 0x2000),                // value 0: skipped
      Symbol(16, 0x1000, 0x100),
      Symbol(22, 0x1100, 0x10),
      Symbol(29, 0x1000, 0x100),  // later in table order than "first"
  };
  t.symbols.sh_type = SHT_SYMTAB;
  t.symbols.sh_offset = t.bytes.size();
  t.symbols.sh_size = sizeof(kSymbols);
  t.symbols.sh_entsize = sizeof(Elf64_Sym);
  for (const Elf64_Sym& s : kSymbols) AppendBytes(&t.bytes, s);
  return t;
}

std::string Lookup(const TempFile& file, const Tables& t, uint64_t pc,
                   uint64_t bias = 0, size_t out_size = 64) {
  char out[64];
  if (!FindSymbolForPc(pc, file.fd(), out, out_size, bias, t.strings,
                       t.symbols)) {
    return "<none>";
  }
  return out;
}

TEST(FindSymbolForPcTest, FirstCoveringDefinedSymbolWins) {
  const Tables t = MakeTables();
  TempFile file(t.bytes);
  const struct {
    uint64_t pc;
    uint64_t bias;
    const char* expected;
  } kCases[] = {
      {0x1000, 0, "first"},
      {0x10ff, 0, "first"},
      {0x1100, 0, "second"},  // the end of "first" is exclusive
      {0x110f, 0, "second"},
      {0x1110, 0, "<none>"},
      {0xfff, 0, "<none>"},
      {0x500, 0, "<none>"},   // only the value-0 symbol would cover it
      {0x5550000010f0, 0x555000000000, "first"},
      {0x10f0, 0x555000000000, "<none>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.pc << " bias " << c.bias);
    EXPECT_EQ(Lookup(file, t, c.pc, c.bias), c.expected);
  }
}

TEST(FindSymbolForPcTest, NameMustFitWithItsNul) {
  const Tables t = MakeTables();
  TempFile file(t.bytes);
  EXPECT_EQ(Lookup(file, t, 0x1000, 0, 6), "first");
  EXPECT_EQ(Lookup(file, t, 0x1000, 0, 5), "<none>");
  EXPECT_EQ(Lookup(file, t, 0x1000, 0, 0), "<none>");
}

// The table's entry size comes from the file: 0 must not divide by zero and
// no other size may be used as a stride.
TEST(FindSymbolForPcTest, EntrySizeOtherThanASymbolsGivesNoResult) {
  for (const uint64_t entry_size : {uint64_t{0}, uint64_t{1}, uint64_t{16},
                                    uint64_t{23}, uint64_t{25}, uint64_t{48}}) {
    SCOPED_TRACE(entry_size);
    Tables t = MakeTables();
    TempFile file(t.bytes);
    t.symbols.sh_entsize = entry_size;
    EXPECT_EQ(Lookup(file, t, 0x1000), "<none>");
  }
}

TEST(FindSymbolForPcTest, TruncatedTableAndNamesPastTheEnd) {
  Tables t = MakeTables();
  // The table claims more symbols than the file holds: the whole ones are
  // searched, then the search stops.
  t.symbols.sh_size += 10 * sizeof(Elf64_Sym);
  {
    TempFile file(t.bytes);
    EXPECT_EQ(Lookup(file, t, 0x1100), "second");
    EXPECT_EQ(Lookup(file, t, 0x9000), "<none>");
  }
  // Half a symbol at the end of the file yields no complete entry.
  Tables half = MakeTables();
  half.bytes.resize(half.bytes.size() - sizeof(Elf64_Sym) / 2);
  {
    TempFile file(half.bytes);
    EXPECT_EQ(Lookup(file, half, 0x1000), "first");
  }
  // A name offset past the end of the file.
  Tables far = MakeTables();
  far.strings.sh_offset = 1 << 20;
  TempFile file(far.bytes);
  EXPECT_EQ(Lookup(file, far, 0x1000), "<none>");
}

TEST(FindSectionByTypeTest, FindsTheFirstOfTheType) {
  // 40 headers, so that the search crosses chunks; types 100 + index, with
  // SHT_SYMTAB at 20 and 33 and SHT_DYNSYM at 35.
  std::string bytes(128, '\0');
  for (uint32_t i = 0; i < 40; ++i) {
    Elf64_Shdr header;
    memset(&header, 0, sizeof(header));
    header.sh_type = 100 + i;
    if (i == 20 || i == 33) header.sh_type = SHT_SYMTAB;
    if (i == 35) header.sh_type = SHT_DYNSYM;
    header.sh_offset = i;
    AppendBytes(&bytes, header);
  }
  TempFile file(bytes);
  Elf64_Shdr found;
  ASSERT_TRUE(FindSectionByType(file.fd(), 40, 128, SHT_SYMTAB, &found));
  EXPECT_EQ(found.sh_offset, 20u);
  ASSERT_TRUE(FindSectionByType(file.fd(), 40, 128, SHT_DYNSYM, &found));
  EXPECT_EQ(found.sh_offset, 35u);
  EXPECT_FALSE(FindSectionByType(file.fd(), 40, 128, 99, &found));
  // Fewer headers than claimed: the ones there are searched.
  ASSERT_TRUE(FindSectionByType(file.fd(), 1000, 128, 139, &found));
  EXPECT_EQ(found.sh_offset, 39u);
  // Headers past the end of the file, or a partial one only.
  EXPECT_FALSE(FindSectionByType(file.fd(), 40, 1 << 20, SHT_SYMTAB, &found));
  EXPECT_FALSE(FindSectionByType(file.fd(), 40,
                                 static_cast<off_t>(bytes.size() - 10),
                                 SHT_SYMTAB, &found));
  EXPECT_FALSE(FindSectionByType(-1, 40, 128, SHT_SYMTAB, &found));
}

TEST(ReadAtOffsetTest, ReadsUpToTheEnd) {
  TempFile file("0123456789");
  char buffer[16];
  EXPECT_EQ(ReadAtOffset(file.fd(), buffer, 4, 3), 4);
  EXPECT_EQ(std::string(buffer, 4), "3456");
  EXPECT_EQ(ReadAtOffset(file.fd(), buffer, 16, 6), 4);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(ReadAtOffset(file.fd(), buffer, 16, 10), 0);
  EXPECT_EQ(ReadAtOffset(file.fd(), buffer, 4, -1), -1);
  EXPECT_EQ(ReadAtOffset(-1, buffer, 4, 0), -1);
}

}  // namespace
}  // namespace debug
}  // namespace kelmbase
